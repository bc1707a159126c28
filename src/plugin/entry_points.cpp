// The three exports a browser looks up by name.
#include <cstring>

#include "npapi/browser.h"
#include "npapi/npapi.h"
#include "plugin/plugin_instance.h"

namespace {

// NPPluginFuncs up to and including its last slot, setvalue.
constexpr uint16_t kPluginFuncsSize = sizeof(NPPluginFuncs);
constexpr uint16_t kPluginApiVersion = 19;  // major 0, minor 19
constexpr uint16_t kNetscapeFuncsSize = sizeof(NPNetscapeFuncs);

}  // namespace

extern "C" NPError NP_EXPORT_CALL NP_GetEntryPoints(NPPluginFuncs* pluginFuncs) {
  using namespace zvcert;
  if (pluginFuncs == nullptr || pluginFuncs->size < kPluginFuncsSize) {
    return NPERR_INVALID_FUNCTABLE_ERROR;
  }
  pluginFuncs->version = kPluginApiVersion;
  pluginFuncs->newp = NPP_New;
  pluginFuncs->destroy = NPP_Destroy;
  pluginFuncs->setwindow = NPP_SetWindow;
  pluginFuncs->newstream = NPP_NewStream;
  pluginFuncs->destroystream = NPP_DestroyStream;
  pluginFuncs->asfile = NPP_StreamAsFile;
  pluginFuncs->writeready = NPP_WriteReady;
  pluginFuncs->write = NPP_Write;
  pluginFuncs->print = NPP_Print;
  pluginFuncs->event = NPP_HandleEvent;
  pluginFuncs->urlnotify = NPP_URLNotify;
  pluginFuncs->javaClass = nullptr;
  pluginFuncs->getvalue = NPP_GetValue;
  pluginFuncs->setvalue = NPP_SetValue;
  return NPERR_NO_ERROR;
}

extern "C" NPError NP_EXPORT_CALL NP_Initialize(NPNetscapeFuncs* funcs) {
  using zvcert::browserFuncs;
  if (funcs == nullptr) return NPERR_INVALID_FUNCTABLE_ERROR;
  if ((funcs->version >> 8) != 0) return NPERR_INCOMPATIBLE_VERSION_ERROR;
  if (funcs->size < kNetscapeFuncsSize) return NPERR_INVALID_FUNCTABLE_ERROR;
  // Size, version and the forty slots geturl..setexception; the five later
  // slots are never used, so they are left null.
  constexpr size_t kCopied = offsetof(NPNetscapeFuncs, pushpopupsenabledstate);
  std::memcpy(&browserFuncs, funcs, kCopied);
  return NPERR_NO_ERROR;
}

extern "C" NPError NP_EXPORT_CALL NP_Shutdown() { return NPERR_NO_ERROR; }
