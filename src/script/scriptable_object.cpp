#include "script/scriptable_object.h"

#include <windows.h>

#include <new>

#include "script/members.h"
#include "script/results.h"
#include "script/script_call.h"

namespace zvcert {
namespace {

template <size_t N>
void CopyText(std::array<char, N>& field, std::string_view text) {
  static_assert(N > 0);
  const size_t n = text.size() < N ? text.size() : N - 1;
  text.copy(field.data(), n);
  field[n] = '\0';
}

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

ScriptablePluginObject::ScriptablePluginObject(NPP owner) : ScriptablePluginObjectBase(owner) {
  rootIssuerName[0] = '\0';
  pendingKeyLength = 0;
  CopyText(challengePassword, kInitialChallenge);
  CopyText(unstructuredName, kInitialChallenge);
  CopyText(subjectText, initialSubjectText);
}

ScriptablePluginObject::~ScriptablePluginObject() {
  // Private key material must not outlive the object in freed heap memory.
  SecureZeroMemory(pendingKeyBlob.data(), pendingKeyBlob.size());
  pendingKeyLength = 0;
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
