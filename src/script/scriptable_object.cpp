#include "script/scriptable_object.h"

#include <new>

#include "request/cryptoapi_store.h"
#include "script/members.h"
#include "script/page_origin.h"
#include "script/results.h"
#include "script/script_call.h"

namespace zvcert {
namespace {

ScriptablePluginObjectBase* Downcast(NPObject* obj) {
  return static_cast<ScriptablePluginObjectBase*>(obj);
}

NPObject* NP_LOADDS Allocate(NPP npp, NPClass* /*aClass*/) {
  return new (std::nothrow) ScriptablePluginObject(npp);
}

void NP_LOADDS Deallocate(NPObject* obj) {
  if (obj != nullptr) delete Downcast(obj);
}

void NP_LOADDS InvalidateRoutine(NPObject* obj) { Downcast(obj)->Invalidate(); }

bool NP_LOADDS HasMethodRoutine(NPObject* obj, NPIdentifier name) {
  return Downcast(obj)->HasMethod(name);
}

bool NP_LOADDS InvokeRoutine(NPObject* obj, NPIdentifier name, const NPVariant* args,
                             uint32_t argCount, NPVariant* result) {
  return Downcast(obj)->Invoke(name, args, argCount, result);
}

bool NP_LOADDS InvokeDefaultRoutine(NPObject* obj, const NPVariant* args, uint32_t argCount,
                                    NPVariant* result) {
  return Downcast(obj)->InvokeDefault(args, argCount, result);
}

bool NP_LOADDS HasPropertyRoutine(NPObject* obj, NPIdentifier name) {
  return Downcast(obj)->HasProperty(name);
}

bool NP_LOADDS GetPropertyRoutine(NPObject* obj, NPIdentifier name, NPVariant* result) {
  return Downcast(obj)->GetProperty(name, result);
}

bool NP_LOADDS SetPropertyRoutine(NPObject* obj, NPIdentifier name, const NPVariant* value) {
  return Downcast(obj)->SetProperty(name, value);
}

bool NP_LOADDS RemovePropertyRoutine(NPObject* obj, NPIdentifier name) {
  return Downcast(obj)->RemoveProperty(name);
}

bool NP_LOADDS EnumerateRoutine(NPObject* obj, NPIdentifier** identifiers, uint32_t* count) {
  return Downcast(obj)->Enumerate(identifiers, count);
}

bool NP_LOADDS ConstructRoutine(NPObject* obj, const NPVariant* args, uint32_t argCount,
                                NPVariant* result) {
  return Downcast(obj)->Construct(args, argCount, result);
}

}  // namespace

NPClass ScriptablePluginObjectClass = {
    NP_CLASS_STRUCT_VERSION,
    Allocate,
    Deallocate,
    InvalidateRoutine,
    HasMethodRoutine,
    InvokeRoutine,
    InvokeDefaultRoutine,
    HasPropertyRoutine,
    GetPropertyRoutine,
    SetPropertyRoutine,
    RemovePropertyRoutine,
    EnumerateRoutine,
    ConstructRoutine,
};

ScriptablePluginObject::ScriptablePluginObject(NPP owner)
    : ScriptablePluginObjectBase(owner), MemberState(CryptoApiStore::Instance()) {}

ScriptablePluginObject::~ScriptablePluginObject() = default;

bool ScriptablePluginObject::ServesPage() {
  return pageOriginCheck == nullptr || pageOriginCheck(npp);
}

bool ScriptablePluginObject::HasMethod(NPIdentifier name) { return FindMethod(name).has_value(); }

bool ScriptablePluginObject::Invoke(NPIdentifier name, const NPVariant* args, uint32_t argCount,
                                    NPVariant* result) {
  return InvokeMethod(*this, name, args, argCount, result);
}

bool ScriptablePluginObject::InvokeDefault(const NPVariant* /*args*/, uint32_t /*argCount*/,
                                           NPVariant* result) {
  SetVoidResult(result);
  return true;
}

bool ScriptablePluginObject::HasProperty(NPIdentifier name) {
  return FindProperty(name).has_value();
}

bool ScriptablePluginObject::GetProperty(NPIdentifier name, NPVariant* result) {
  SetVoidResult(result);
  const std::optional<Member> property = FindProperty(name);
  if (property == Member::Version) return GetVersionProperty(result);
  if (property == Member::HostName) return GetHostNameProperty(npp, result);
  return false;
}

}  // namespace zvcert
