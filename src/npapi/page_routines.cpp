// The routines only a build that reads the page's origin calls: a file of
// their own, so that other builds do not link them.
#include "npapi/browser.h"

namespace zvcert {

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
