// The module's copy of the browser's routine table and the only five browser
// routines the module calls through it.
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

}  // namespace zvcert
