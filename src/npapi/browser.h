// The module's copy of the browser's routine table and the routines the
// module calls through it: five, and three more in a build that reads the
// page's origin.
#pragma once

#include "npapi/npapi.h"

namespace zvcert {

// Zeroed when the module is attached, filled by NP_Initialize.
extern NPNetscapeFuncs browserFuncs;

// Each returns null (or does nothing) while the browser has not handed over
// the routine, so a misbehaving host cannot make the module jump to zero.
void* NPN_MemAlloc(uint32_t size);
NPIdentifier NPN_GetStringIdentifier(const NPUTF8* name);
NPObject* NPN_CreateObject(NPP npp, NPClass* aClass);
NPObject* NPN_RetainObject(NPObject* obj);
void NPN_ReleaseObject(NPObject* obj);
NPError NPN_GetValue(NPP npp, NPNVariable variable, void* value);
bool NPN_GetProperty(NPP npp, NPObject* obj, NPIdentifier name, NPVariant* result);
void NPN_ReleaseVariantValue(NPVariant* variant);

}  // namespace zvcert
