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

}  // namespace zvcert
