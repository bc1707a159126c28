#include "plugin/plugin_instance.h"

#include <new>

#include "npapi/browser.h"
#include "script/members.h"
#include "script/scriptable_object.h"

namespace zvcert {
namespace {

constexpr char kPluginName[] = "NPRuntimeTest";
constexpr char kPluginDescription[] = "NPRuntime scriptability API test plugin";
// Every byte offered is taken; the plug-in reads no stream data.
constexpr int32_t kWriteReadyBytes = 0x0FFFFFFF;

PluginInstance* RecordOf(NPP instance) { return static_cast<PluginInstance*>(instance->pdata); }

}  // namespace

NPObject* GetScriptableObject(PluginInstance& record) {
  if (record.scriptableObject == nullptr) {
    record.scriptableObject = NPN_CreateObject(record.instance, &ScriptablePluginObjectClass);
  }
  if (record.scriptableObject != nullptr) NPN_RetainObject(record.scriptableObject);
  return record.scriptableObject;
}

NPError NP_LOADDS NPP_New(NPMIMEType /*pluginType*/, NPP instance, uint16_t /*mode*/,
                          int16_t /*argc*/, char* /*argn*/[], char* /*argv*/[],
                          NPSavedData* /*saved*/) {
  if (instance == nullptr) return NPERR_INVALID_INSTANCE_ERROR;
  auto* record = new (std::nothrow) PluginInstance;
  if (record == nullptr) return NPERR_OUT_OF_MEMORY_ERROR;
  record->instance = instance;
  LoadMemberIdentifiers();
  instance->pdata = record;
  return NPERR_NO_ERROR;
}

NPError NP_LOADDS NPP_Destroy(NPP instance, NPSavedData** /*save*/) {
  if (instance == nullptr) return NPERR_INVALID_INSTANCE_ERROR;
  PluginInstance* record = RecordOf(instance);
  if (record == nullptr) return NPERR_NO_ERROR;
  RestoreWindow(*record);
  if (record->scriptableObject != nullptr) NPN_ReleaseObject(record->scriptableObject);
  delete record;
  instance->pdata = nullptr;
  return NPERR_NO_ERROR;
}

NPError NP_LOADDS NPP_SetWindow(NPP instance, NPWindow* window) {
  if (instance == nullptr) return NPERR_INVALID_INSTANCE_ERROR;
  if (window == nullptr) return NPERR_GENERIC_ERROR;
  PluginInstance* record = RecordOf(instance);
  if (record == nullptr) return NPERR_GENERIC_ERROR;
  // Subclassed at most once; later windows, sizes or a null handle are ignored.
  if (!record->initialized && window->window != nullptr) SubclassWindow(*record, window);
  return NPERR_NO_ERROR;
}

NPError NP_LOADDS NPP_NewStream(NPP instance, NPMIMEType /*type*/, NPStream* /*stream*/,
                                NPBool /*seekable*/, uint16_t* /*stype*/) {
  return instance == nullptr ? NPERR_INVALID_INSTANCE_ERROR : NPERR_NO_ERROR;
}

NPError NP_LOADDS NPP_DestroyStream(NPP instance, NPStream* /*stream*/, NPReason /*reason*/) {
  return instance == nullptr ? NPERR_INVALID_INSTANCE_ERROR : NPERR_NO_ERROR;
}

void NP_LOADDS NPP_StreamAsFile(NPP /*instance*/, NPStream* /*stream*/, const char* /*fname*/) {}

int32_t NP_LOADDS NPP_WriteReady(NPP instance, NPStream* /*stream*/) {
  return instance == nullptr ? NPERR_INVALID_INSTANCE_ERROR : kWriteReadyBytes;
}

int32_t NP_LOADDS NPP_Write(NPP instance, NPStream* /*stream*/, int32_t /*offset*/, int32_t len,
                            void* /*buffer*/) {
  return instance == nullptr ? NPERR_INVALID_INSTANCE_ERROR : len;
}

void NP_LOADDS NPP_Print(NPP /*instance*/, NPPrint* /*platformPrint*/) {}

int16_t NP_LOADDS NPP_HandleEvent(NPP /*instance*/, void* /*event*/) { return 0; }

void NP_LOADDS NPP_URLNotify(NPP /*instance*/, const char* /*url*/, NPReason /*reason*/,
                             void* /*notifyData*/) {}

NPError NP_LOADDS NPP_GetValue(NPP instance, NPPVariable variable, void* value) {
  if (instance == nullptr) return NPERR_INVALID_INSTANCE_ERROR;
  PluginInstance* record = RecordOf(instance);
  if (record == nullptr) return NPERR_GENERIC_ERROR;
  switch (variable) {
    case NPPVpluginNameString:
      *static_cast<const char**>(value) = kPluginName;
      return NPERR_NO_ERROR;
    case NPPVpluginDescriptionString:
      *static_cast<const char**>(value) = kPluginDescription;
      return NPERR_NO_ERROR;
    case NPPVpluginScriptableNPObject:
      *static_cast<NPObject**>(value) = GetScriptableObject(*record);
      return NPERR_NO_ERROR;
    default:
      return NPERR_GENERIC_ERROR;
  }
}

NPError NP_LOADDS NPP_SetValue(NPP instance, NPNVariable /*variable*/, void* /*value*/) {
  return instance == nullptr ? NPERR_INVALID_INSTANCE_ERROR : NPERR_NO_ERROR;
}

}  // namespace zvcert
