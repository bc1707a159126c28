#include "npapi/browser.h"

namespace zvcert {

NPNetscapeFuncs browserFuncs;

void* NPN_MemAlloc(uint32_t size) {
  return browserFuncs.memalloc != nullptr ? browserFuncs.memalloc(size) : nullptr;
}

NPIdentifier NPN_GetStringIdentifier(const NPUTF8* name) {
  return browserFuncs.getstringidentifier != nullptr ? browserFuncs.getstringidentifier(name)
                                                     : nullptr;
}

NPObject* NPN_CreateObject(NPP npp, NPClass* aClass) {
  return browserFuncs.createobject != nullptr ? browserFuncs.createobject(npp, aClass) : nullptr;
}

NPObject* NPN_RetainObject(NPObject* obj) {
  return browserFuncs.retainobject != nullptr ? browserFuncs.retainobject(obj) : obj;
}

void NPN_ReleaseObject(NPObject* obj) {
  if (browserFuncs.releaseobject != nullptr) browserFuncs.releaseobject(obj);
}

NPError NPN_GetValue(NPP npp, NPNVariable variable, void* value) {
  if (browserFuncs.getvalue == nullptr) return NPERR_GENERIC_ERROR;
  return browserFuncs.getvalue(npp, variable, value);
}

bool NPN_GetProperty(NPP npp, NPObject* obj, NPIdentifier name, NPVariant* result) {
  return browserFuncs.getproperty != nullptr && browserFuncs.getproperty(npp, obj, name, result);
}

void NPN_ReleaseVariantValue(NPVariant* variant) {
  if (browserFuncs.releasevariantvalue != nullptr) browserFuncs.releasevariantvalue(variant);
}

}  // namespace zvcert
