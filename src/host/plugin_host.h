// The browser side of NPAPI: loads npzvcert.dll as a browser does, hands it a
// full 184-byte routine table, creates instances and makes script calls with
// NPVariant arguments, as npzvcert-host.exe needs.
//
// Built with ZVCERT_BROWSER_CHECKS=1 it is the tests' browser (tests/browser,
// npzvcert-host-checks.exe): it also records every routine the module calls
// through the table, the memory it hands out and the objects alive, fails
// memory and objects on demand, and drives windows and the rarer script
// calls. The shipped host carries none of that.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "npapi/npapi.h"

namespace zvhost {

// A script value as page script sees it. monostate is void, nullptr_t null.
using Value =
    std::variant<std::monostate, std::nullptr_t, bool, int32_t, double, std::string, NPObject*>;

struct CallResult {
  bool ok = false;
  Value value;
  // The call was not made: there was no memory for its arguments' copies.
  bool noMemory = false;
  // Its text result was longer than the caller takes and was not copied;
  // value is void.
  bool textTooLong = false;
#if ZVCERT_BROWSER_CHECKS
  bool resultWritten = true;  // false: the call left the browser's result as it was
#endif
};

// The full path of npzvcert.dll beside the running program.
std::wstring DefaultPluginPath();

class Instance;

#if ZVCERT_BROWSER_CHECKS
// The call's result is void: written as void, not merely left alone.
inline bool IsVoid(const CallResult& r) {
  return r.resultWritten && std::holds_alternative<std::monostate>(r.value);
}

// The slots of NPNetscapeFuncs by position (0 = geturl ... 44 = construct).
enum class Slot : int {
  geturl,
  posturl,
  requestread,
  newstream,
  write,
  destroystream,
  status,
  uagent,
  memalloc,
  memfree,
  memflush,
  reloadplugins,
  getJavaEnv,
  getJavaPeer,
  geturlnotify,
  posturlnotify,
  getvalue,
  setvalue,
  invalidaterect,
  invalidateregion,
  forceredraw,
  getstringidentifier,
  getstringidentifiers,
  getintidentifier,
  identifierisstring,
  utf8fromidentifier,
  intfromidentifier,
  createobject,
  retainobject,
  releaseobject,
  invoke,
  invokeDefault,
  evaluate,
  getproperty,
  setproperty,
  removeproperty,
  hasproperty,
  hasmethod,
  releasevariantvalue,
  setexception,
  pushpopupsenabledstate,
  poppopupsenabledstate,
  enumerate,
  pluginthreadasynccall,
  construct,
};
inline constexpr int kSlotCount = 45;

// The three exports, for a plug-in linked into the test program itself.
struct EntryPoints {
  NP_GetEntryPointsFunc getEntryPoints;
  NP_InitializeFunc initialize;
  NP_ShutdownFunc shutdown;
};
#endif

// One loaded plug-in module and the browser state around it. There is one
// browser per process at a time, as the table's routines carry no context.
class Browser {
 public:
  explicit Browser(const std::wstring& pluginPath = DefaultPluginPath());
  ~Browser();
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  bool loaded() const { return module_ != nullptr; }

  // The exports, as found by GetProcAddress under their plain names.
  NP_GetEntryPointsFunc getEntryPoints = nullptr;
  NP_InitializeFunc initialize = nullptr;
  NP_ShutdownFunc shutdown = nullptr;

  // The table a browser hands over: size 184, version 0.19, every slot filled.
  static NPNetscapeFuncs MakeBrowserFuncs();

  // NP_GetEntryPoints then NP_Initialize, as a browser starts a plug-in.
  // Returns the first error, or NPERR_NO_ERROR.
  NPError Start();

  std::unique_ptr<Instance> NewInstance();

  // Interned: the same name always gives the same identifier.
  static NPIdentifier Identifier(const std::string& name);

  // The page the instances are in, as a module may read it: window.location
  // and its origin, fresh objects for every request.
  struct Page {
    enum class Location { Object, Text, Missing };
    bool window = true;                    // false: there is no window object to hand out
    Location location = Location::Object;  // Text: window.location is the origin text itself
    Value origin;                          // location.origin as page script sees it
  };
  // None, the default: a browser that offers no page at all.
  static void SetPage(std::optional<Page> page);

#if ZVCERT_BROWSER_CHECKS
  // Drives plug-in code linked into this program, so that a test can also
  // look at its internals or replace its platform services.
  explicit Browser(const EntryPoints& linkedIn);

  HMODULE module() const { return module_; }
  const NPPluginFuncs& pluginFuncs() const { return pluginFuncs_; }

  // What the module did through the routine table.
  static int CallsFromModule(Slot slot);
  // Names of the routines the module called beyond the five it may use
  // (eight while a page is set: also getvalue, getproperty and
  // releasevariantvalue, which reading the page's origin takes).
  static std::vector<std::string> UnexpectedCalls();
  // Misuses the browser noticed (freeing foreign memory, releasing a dead
  // object, strings without their NUL).
  static std::vector<std::string> Errors();

  static size_t OutstandingAllocations();
  static size_t LiveObjects();
  static int ObjectReferences(NPObject* obj);

  // The next count requests fail as if the browser were out of memory.
  static void FailMemAlloc(int count);
  static void FailCreateObject(int count);
#endif

 private:
  HMODULE module_ = nullptr;
  bool ownsModule_ = false;
  NPPluginFuncs pluginFuncs_{};
};

// A reference to a scriptable object held by page script; released on
// destruction. Calls go through the object's class as a browser makes them.
class ScriptObject {
 public:
  explicit ScriptObject(NPObject* obj) : obj_(obj) {}
  ~ScriptObject();
  ScriptObject(const ScriptObject&) = delete;
  ScriptObject& operator=(const ScriptObject&) = delete;

  NPObject* get() const { return obj_; }

  // The arguments' strings are let go of as they are copied for the call;
  // a text result longer than maxText is not copied.
  CallResult Invoke(const std::string& method, std::vector<Value> args = {},
                    size_t maxText = SIZE_MAX) const;
  CallResult GetProperty(const std::string& name) const;
#if ZVCERT_BROWSER_CHECKS
  bool HasMethod(const std::string& name) const;
  bool HasProperty(const std::string& name) const;
  CallResult InvokeDefault(const std::vector<Value>& args = {}) const;
  bool SetProperty(const std::string& name, const Value& value) const;
  bool RemoveProperty(const std::string& name) const;
  bool Enumerate() const;
  CallResult Construct(const std::vector<Value>& args = {}) const;
#endif

 private:
  NPObject* obj_;
};

// One embedded element: its NPP record and, on request, a window.
class Instance {
 public:
  Instance(const NPPluginFuncs& funcs);
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  NPError newError() const { return newError_; }

  // NPP_GetValue(NPPVpluginScriptableNPObject); the page holds the reference.
  std::unique_ptr<ScriptObject> GetScriptableObject(NPError* error = nullptr);

  NPError Destroy();

#if ZVCERT_BROWSER_CHECKS
  NPP npp() { return &npp_; }
  bool destroyed() const { return destroyed_; }

  // A visible top-level window with a child for the plug-in, as a page has.
  HWND CreatePluginWindow(int width = 200, int height = 100);
  NPError SetWindow(HWND hwnd, uint32_t width = 200, uint32_t height = 100);
#endif

 private:
  const NPPluginFuncs& funcs_;
  NPP_t npp_{};
  NPError newError_ = NPERR_GENERIC_ERROR;
  bool destroyed_ = false;
#if ZVCERT_BROWSER_CHECKS
  std::vector<HWND> topWindows_;
  std::vector<std::unique_ptr<NPWindow>> windows_;
#endif
};

#if ZVCERT_BROWSER_CHECKS
// Dispatches pending window messages, painting included.
void PumpMessages();

// Plain text in NPVariant form for calls made by hand.
std::string ToString(const Value& value);
#endif

}  // namespace zvhost
