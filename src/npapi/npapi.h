// Our own declarations of the NPAPI contract for Windows, x86 and x64: the layouts,
// values and calling conventions a browser expects. Only what this module and
// its test browser use is typed; the remaining browser routines are opaque.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define NP_LOADDS __cdecl
#define NP_EXPORT_CALL __stdcall
#else
#define NP_LOADDS
#define NP_EXPORT_CALL
#endif

using NPError = int16_t;
using NPBool = unsigned char;
using NPReason = int16_t;
using NPMIMEType = char*;
using NPUTF8 = char;
using NPIdentifier = void*;

struct NPP_t {
  void* pdata;  // the plug-in's
  void* ndata;  // the browser's
};
using NPP = NPP_t*;

struct NPStream;
struct NPPrint;
struct NPSavedData;

enum : NPError {
  NPERR_NO_ERROR = 0,
  NPERR_GENERIC_ERROR = 1,
  NPERR_INVALID_INSTANCE_ERROR = 2,
  NPERR_INVALID_FUNCTABLE_ERROR = 3,
  NPERR_MODULE_LOAD_FAILED_ERROR = 4,
  NPERR_OUT_OF_MEMORY_ERROR = 5,
  NPERR_INVALID_PLUGIN_ERROR = 6,
  NPERR_INVALID_PLUGIN_DIR_ERROR = 7,
  NPERR_INCOMPATIBLE_VERSION_ERROR = 8,
  NPERR_INVALID_PARAM = 9,
  NPERR_INVALID_URL = 10,
  NPERR_FILE_NOT_FOUND = 11,
  NPERR_NO_DATA = 12,
  NPERR_STREAM_NOT_SEEKABLE = 13,
};

enum NPPVariable {
  NPPVpluginNameString = 1,
  NPPVpluginDescriptionString = 2,
  NPPVpluginWindowBool = 3,
  NPPVpluginTransparentBool = 4,
  NPPVjavaClass = 5,
  NPPVpluginWindowSize = 6,
  NPPVpluginTimerInterval = 7,
  NPPVpluginScriptableIID = 11,
  NPPVjavascriptPushCallerBool = 12,
  NPPVpluginKeepLibraryInMemory = 13,
  NPPVpluginNeedsXEmbed = 14,
  NPPVpluginScriptableNPObject = 15,
};

enum NPNVariable : int {};
// The page's window object (NPN_GetValue; the caller releases it).
inline constexpr NPNVariable NPNVWindowNPObject = static_cast<NPNVariable>(15);

struct NPRect {
  uint16_t top;
  uint16_t left;
  uint16_t bottom;
  uint16_t right;
};

enum NPWindowType { NPWindowTypeWindow = 1, NPWindowTypeDrawable = 2 };

struct NPWindow {
  void* window;  // the HWND on Windows
  int32_t x;
  int32_t y;
  uint32_t width;
  uint32_t height;
  NPRect clipRect;
  NPWindowType type;
};

// ---- Scripting records -----------------------------------------------------

struct NPObject;
struct NPClass;

struct NPString {
  const NPUTF8* UTF8Characters;
  uint32_t UTF8Length;  // bytes, no terminator counted
};

enum NPVariantType {
  NPVariantType_Void = 0,
  NPVariantType_Null = 1,
  NPVariantType_Bool = 2,
  NPVariantType_Int32 = 3,
  NPVariantType_Double = 4,
  NPVariantType_String = 5,
  NPVariantType_Object = 6,
};

struct NPVariant {
  NPVariantType type;
  // The union holds a double, so it is 8-byte aligned on x86 as on x64.
  union alignas(8) {
    bool boolValue;
    int32_t intValue;
    double doubleValue;
    NPString stringValue;
    NPObject* objectValue;
  } value;
};

using NPAllocateFunctionPtr = NPObject*(NP_LOADDS*)(NPP npp, NPClass* aClass);
using NPDeallocateFunctionPtr = void(NP_LOADDS*)(NPObject* obj);
using NPInvalidateFunctionPtr = void(NP_LOADDS*)(NPObject* obj);
using NPHasMethodFunctionPtr = bool(NP_LOADDS*)(NPObject* obj, NPIdentifier name);
using NPInvokeFunctionPtr = bool(NP_LOADDS*)(NPObject* obj, NPIdentifier name,
                                             const NPVariant* args, uint32_t argCount,
                                             NPVariant* result);
using NPInvokeDefaultFunctionPtr = bool(NP_LOADDS*)(NPObject* obj, const NPVariant* args,
                                                    uint32_t argCount, NPVariant* result);
using NPHasPropertyFunctionPtr = bool(NP_LOADDS*)(NPObject* obj, NPIdentifier name);
using NPGetPropertyFunctionPtr = bool(NP_LOADDS*)(NPObject* obj, NPIdentifier name,
                                                  NPVariant* result);
using NPSetPropertyFunctionPtr = bool(NP_LOADDS*)(NPObject* obj, NPIdentifier name,
                                                  const NPVariant* value);
using NPRemovePropertyFunctionPtr = bool(NP_LOADDS*)(NPObject* obj, NPIdentifier name);
using NPEnumerationFunctionPtr = bool(NP_LOADDS*)(NPObject* obj, NPIdentifier** identifiers,
                                                  uint32_t* count);
using NPConstructFunctionPtr = bool(NP_LOADDS*)(NPObject* obj, const NPVariant* args,
                                                uint32_t argCount, NPVariant* result);

inline constexpr uint32_t NP_CLASS_STRUCT_VERSION = 3;

struct NPClass {
  uint32_t structVersion;
  NPAllocateFunctionPtr allocate;
  NPDeallocateFunctionPtr deallocate;
  NPInvalidateFunctionPtr invalidate;
  NPHasMethodFunctionPtr hasMethod;
  NPInvokeFunctionPtr invoke;
  NPInvokeDefaultFunctionPtr invokeDefault;
  NPHasPropertyFunctionPtr hasProperty;
  NPGetPropertyFunctionPtr getProperty;
  NPSetPropertyFunctionPtr setProperty;
  NPRemovePropertyFunctionPtr removeProperty;
  NPEnumerationFunctionPtr enumerate;
  NPConstructFunctionPtr construct;
};

struct NPObject {
  NPClass* _class;
  uint32_t referenceCount;
};

// ---- The plug-in's routine table (filled by NP_GetEntryPoints) --------------

using NPP_NewProcPtr = NPError(NP_LOADDS*)(NPMIMEType pluginType, NPP instance, uint16_t mode,
                                           int16_t argc, char* argn[], char* argv[],
                                           NPSavedData* saved);
using NPP_DestroyProcPtr = NPError(NP_LOADDS*)(NPP instance, NPSavedData** save);
using NPP_SetWindowProcPtr = NPError(NP_LOADDS*)(NPP instance, NPWindow* window);
using NPP_NewStreamProcPtr = NPError(NP_LOADDS*)(NPP instance, NPMIMEType type, NPStream* stream,
                                                 NPBool seekable, uint16_t* stype);
using NPP_DestroyStreamProcPtr = NPError(NP_LOADDS*)(NPP instance, NPStream* stream,
                                                     NPReason reason);
using NPP_StreamAsFileProcPtr = void(NP_LOADDS*)(NPP instance, NPStream* stream, const char* fname);
using NPP_WriteReadyProcPtr = int32_t(NP_LOADDS*)(NPP instance, NPStream* stream);
using NPP_WriteProcPtr = int32_t(NP_LOADDS*)(NPP instance, NPStream* stream, int32_t offset,
                                             int32_t len, void* buffer);
using NPP_PrintProcPtr = void(NP_LOADDS*)(NPP instance, NPPrint* platformPrint);
using NPP_HandleEventProcPtr = int16_t(NP_LOADDS*)(NPP instance, void* event);
using NPP_URLNotifyProcPtr = void(NP_LOADDS*)(NPP instance, const char* url, NPReason reason,
                                              void* notifyData);
using NPP_GetValueProcPtr = NPError(NP_LOADDS*)(NPP instance, NPPVariable variable, void* value);
using NPP_SetValueProcPtr = NPError(NP_LOADDS*)(NPP instance, NPNVariable variable, void* value);

struct NPPluginFuncs {
  uint16_t size;
  uint16_t version;
  NPP_NewProcPtr newp;
  NPP_DestroyProcPtr destroy;
  NPP_SetWindowProcPtr setwindow;
  NPP_NewStreamProcPtr newstream;
  NPP_DestroyStreamProcPtr destroystream;
  NPP_StreamAsFileProcPtr asfile;
  NPP_WriteReadyProcPtr writeready;
  NPP_WriteProcPtr write;
  NPP_PrintProcPtr print;
  NPP_HandleEventProcPtr event;
  NPP_URLNotifyProcPtr urlnotify;
  void* javaClass;  // data, not a routine
  NPP_GetValueProcPtr getvalue;
  NPP_SetValueProcPtr setvalue;
};

// ---- The browser's routine table (given to NP_Initialize) -------------------

using NPN_MemAllocProcPtr = void*(NP_LOADDS*)(uint32_t size);
using NPN_MemFreeProcPtr = void(NP_LOADDS*)(void* ptr);
using NPN_GetStringIdentifierProcPtr = NPIdentifier(NP_LOADDS*)(const NPUTF8* name);
using NPN_CreateObjectProcPtr = NPObject*(NP_LOADDS*)(NPP npp, NPClass* aClass);
using NPN_RetainObjectProcPtr = NPObject*(NP_LOADDS*)(NPObject* obj);
using NPN_ReleaseObjectProcPtr = void(NP_LOADDS*)(NPObject* obj);
using NPN_ReleaseVariantValueProcPtr = void(NP_LOADDS*)(NPVariant* variant);
using NPN_GetValueProcPtr = NPError(NP_LOADDS*)(NPP instance, NPNVariable variable, void* value);
using NPN_GetPropertyProcPtr = bool(NP_LOADDS*)(NPP npp, NPObject* obj, NPIdentifier propertyName,
                                                NPVariant* result);
// Slots this module never calls; their signatures do not matter to it.
using NPN_OpaqueProcPtr = void(NP_LOADDS*)();

// Every slot of the table in order, once: X(slot, routine type). The table
// below, the host's filling of it and the tests' counting follow from it.
#define NPN_ROUTINE_SLOTS(X)                             \
  X(geturl, NPN_OpaqueProcPtr)                           \
  X(posturl, NPN_OpaqueProcPtr)                          \
  X(requestread, NPN_OpaqueProcPtr)                      \
  X(newstream, NPN_OpaqueProcPtr)                        \
  X(write, NPN_OpaqueProcPtr)                            \
  X(destroystream, NPN_OpaqueProcPtr)                    \
  X(status, NPN_OpaqueProcPtr)                           \
  X(uagent, NPN_OpaqueProcPtr)                           \
  X(memalloc, NPN_MemAllocProcPtr)                       \
  X(memfree, NPN_MemFreeProcPtr)                         \
  X(memflush, NPN_OpaqueProcPtr)                         \
  X(reloadplugins, NPN_OpaqueProcPtr)                    \
  X(getJavaEnv, NPN_OpaqueProcPtr)                       \
  X(getJavaPeer, NPN_OpaqueProcPtr)                      \
  X(geturlnotify, NPN_OpaqueProcPtr)                     \
  X(posturlnotify, NPN_OpaqueProcPtr)                    \
  X(getvalue, NPN_GetValueProcPtr)                       \
  X(setvalue, NPN_OpaqueProcPtr)                         \
  X(invalidaterect, NPN_OpaqueProcPtr)                   \
  X(invalidateregion, NPN_OpaqueProcPtr)                 \
  X(forceredraw, NPN_OpaqueProcPtr)                      \
  X(getstringidentifier, NPN_GetStringIdentifierProcPtr) \
  X(getstringidentifiers, NPN_OpaqueProcPtr)             \
  X(getintidentifier, NPN_OpaqueProcPtr)                 \
  X(identifierisstring, NPN_OpaqueProcPtr)               \
  X(utf8fromidentifier, NPN_OpaqueProcPtr)               \
  X(intfromidentifier, NPN_OpaqueProcPtr)                \
  X(createobject, NPN_CreateObjectProcPtr)               \
  X(retainobject, NPN_RetainObjectProcPtr)               \
  X(releaseobject, NPN_ReleaseObjectProcPtr)             \
  X(invoke, NPN_OpaqueProcPtr)                           \
  X(invokeDefault, NPN_OpaqueProcPtr)                    \
  X(evaluate, NPN_OpaqueProcPtr)                         \
  X(getproperty, NPN_GetPropertyProcPtr)                 \
  X(setproperty, NPN_OpaqueProcPtr)                      \
  X(removeproperty, NPN_OpaqueProcPtr)                   \
  X(hasproperty, NPN_OpaqueProcPtr)                      \
  X(hasmethod, NPN_OpaqueProcPtr)                        \
  X(releasevariantvalue, NPN_ReleaseVariantValueProcPtr) \
  X(setexception, NPN_OpaqueProcPtr)                     \
  X(pushpopupsenabledstate, NPN_OpaqueProcPtr)           \
  X(poppopupsenabledstate, NPN_OpaqueProcPtr)            \
  X(enumerate, NPN_OpaqueProcPtr)                        \
  X(pluginthreadasynccall, NPN_OpaqueProcPtr)            \
  X(construct, NPN_OpaqueProcPtr)

struct NPNetscapeFuncs {
  uint16_t size;
  uint16_t version;  // major in the high byte, minor in the low byte
#define NPN_SLOT(slot, type) type slot;
  NPN_ROUTINE_SLOTS(NPN_SLOT)
#undef NPN_SLOT
};

#define NPN_COUNT(slot, type) +1
inline constexpr int kNetscapeFuncsSlotCount = 0 NPN_ROUTINE_SLOTS(NPN_COUNT);
#undef NPN_COUNT

// The entry points browsers find by name with GetProcAddress.
extern "C" {
NPError NP_EXPORT_CALL NP_GetEntryPoints(NPPluginFuncs* pluginFuncs);
NPError NP_EXPORT_CALL NP_Initialize(NPNetscapeFuncs* browserFuncs);
NPError NP_EXPORT_CALL NP_Shutdown();
}
using NP_GetEntryPointsFunc = NPError(NP_EXPORT_CALL*)(NPPluginFuncs*);
using NP_InitializeFunc = NPError(NP_EXPORT_CALL*)(NPNetscapeFuncs*);
using NP_ShutdownFunc = NPError(NP_EXPORT_CALL*)();

// The layouts browsers depend on, as published for 32-bit Windows and as the
// 64-bit browsers lay out the same declarations (pointers 8 bytes, natural
// alignment). Each row: the record, then its size or a field's offset on x86
// and on x64; the build checks the column of the architecture it targets.
struct NPLayout {
  size_t x86;
  size_t x64;
  constexpr bool matches(size_t actual) const { return actual == (sizeof(void*) == 4 ? x86 : x64); }
};

// Where the Windows message of an event lives: its parameters are pointer-sized.
struct NPEvent {
  uint16_t event;
  uintptr_t wParam;
  uintptr_t lParam;
};

#define NP_CHECK_LAYOUT(actual, x86, x64) static_assert(NPLayout{x86, x64}.matches(actual), #actual)
NP_CHECK_LAYOUT(sizeof(NPP_t), 8, 16);
NP_CHECK_LAYOUT(sizeof(NPWindow), 32, 40);
NP_CHECK_LAYOUT(offsetof(NPWindow, clipRect), 20, 24);
NP_CHECK_LAYOUT(offsetof(NPWindow, type), 28, 32);
NP_CHECK_LAYOUT(sizeof(NPEvent), 12, 24);
NP_CHECK_LAYOUT(offsetof(NPEvent, wParam), 4, 8);
NP_CHECK_LAYOUT(offsetof(NPEvent, lParam), 8, 16);
NP_CHECK_LAYOUT(sizeof(NPString), 8, 16);
NP_CHECK_LAYOUT(offsetof(NPString, UTF8Length), 4, 8);
NP_CHECK_LAYOUT(sizeof(NPVariant), 16, 24);
NP_CHECK_LAYOUT(offsetof(NPVariant, value), 8, 8);
NP_CHECK_LAYOUT(sizeof(NPObject), 8, 16);
NP_CHECK_LAYOUT(offsetof(NPObject, referenceCount), 4, 8);
NP_CHECK_LAYOUT(sizeof(NPClass), 52, 104);
NP_CHECK_LAYOUT(offsetof(NPClass, allocate), 4, 8);
NP_CHECK_LAYOUT(offsetof(NPClass, construct), 48, 96);
NP_CHECK_LAYOUT(sizeof(NPPluginFuncs), 60, 120);
NP_CHECK_LAYOUT(offsetof(NPPluginFuncs, newp), 4, 8);
NP_CHECK_LAYOUT(offsetof(NPPluginFuncs, javaClass), 48, 96);
NP_CHECK_LAYOUT(offsetof(NPPluginFuncs, getvalue), 52, 104);
NP_CHECK_LAYOUT(offsetof(NPPluginFuncs, setvalue), 56, 112);
NP_CHECK_LAYOUT(sizeof(NPNetscapeFuncs), 184, 368);
NP_CHECK_LAYOUT(offsetof(NPNetscapeFuncs, geturl), 4, 8);
NP_CHECK_LAYOUT(offsetof(NPNetscapeFuncs, memalloc), 36, 72);
NP_CHECK_LAYOUT(offsetof(NPNetscapeFuncs, getvalue), 68, 136);
NP_CHECK_LAYOUT(offsetof(NPNetscapeFuncs, getstringidentifier), 88, 176);
NP_CHECK_LAYOUT(offsetof(NPNetscapeFuncs, createobject), 112, 224);
NP_CHECK_LAYOUT(offsetof(NPNetscapeFuncs, getproperty), 136, 272);
NP_CHECK_LAYOUT(offsetof(NPNetscapeFuncs, releasevariantvalue), 156, 312);
NP_CHECK_LAYOUT(offsetof(NPNetscapeFuncs, setexception), 160, 320);
NP_CHECK_LAYOUT(offsetof(NPNetscapeFuncs, construct), 180, 360);
// Every browser routine is one slot after the version words.
static_assert(sizeof(NPNetscapeFuncs) == sizeof(void*) * (1 + kNetscapeFuncsSlotCount));
#undef NP_CHECK_LAYOUT
