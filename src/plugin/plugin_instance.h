// One record per embedded element, hung on the browser's instance handle, and
// the plug-in routines the browser calls for it.
#pragma once

#include <windows.h>

#include "npapi/npapi.h"

namespace zvcert {

struct PluginInstance {
  NPP instance = nullptr;
  HWND windowHandle = nullptr;           // the subclassed window; null before and after
  NPWindow* windowRecord = nullptr;      // the record of the call that subclassed it
  bool initialized = false;              // true once the window is subclassed
  NPObject* scriptableObject = nullptr;  // holds the creation reference
  LONG_PTR previousWindowProc = 0;       // what subclassing replaced; 0 when none is saved
};

// The instance's one scriptable object, created on first request; every call
// hands out one further reference (null if the object cannot be created).
NPObject* GetScriptableObject(PluginInstance& record);

NPError NP_LOADDS NPP_New(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t argc,
                          char* argn[], char* argv[], NPSavedData* saved);
NPError NP_LOADDS NPP_Destroy(NPP instance, NPSavedData** save);
NPError NP_LOADDS NPP_SetWindow(NPP instance, NPWindow* window);
NPError NP_LOADDS NPP_NewStream(NPP instance, NPMIMEType type, NPStream* stream, NPBool seekable,
                                uint16_t* stype);
NPError NP_LOADDS NPP_DestroyStream(NPP instance, NPStream* stream, NPReason reason);
void NP_LOADDS NPP_StreamAsFile(NPP instance, NPStream* stream, const char* fname);
int32_t NP_LOADDS NPP_WriteReady(NPP instance, NPStream* stream);
int32_t NP_LOADDS NPP_Write(NPP instance, NPStream* stream, int32_t offset, int32_t len,
                            void* buffer);
void NP_LOADDS NPP_Print(NPP instance, NPPrint* platformPrint);
int16_t NP_LOADDS NPP_HandleEvent(NPP instance, void* event);
void NP_LOADDS NPP_URLNotify(NPP instance, const char* url, NPReason reason, void* notifyData);
NPError NP_LOADDS NPP_GetValue(NPP instance, NPPVariable variable, void* value);
NPError NP_LOADDS NPP_SetValue(NPP instance, NPNVariable variable, void* value);

// Window subclassing (plugin_window.cpp).
void SubclassWindow(PluginInstance& record, NPWindow* window);
void RestoreWindow(PluginInstance& record);

}  // namespace zvcert
