// The browser side of NPAPI: loads npzvcert.dll as a browser does, hands it a
// full 184-byte routine table, creates instances and makes script calls with
// NPVariant arguments, as npzvcert-host.exe needs.
//
// The tests' browser (tests/browser) derives from these classes and attaches
// through browserHooks, which the shipped host leaves empty.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "host/member_object.h"
#include "npapi/npapi.h"

namespace zvhost {

// What may stand between this browser and its callers. Null in the shipped
// host; the tests' browser sets it to count, track and fail what the module
// and the host itself call.
struct BrowserHooks {
  // The routines the host calls itself, wrapping OwnRoutines().
  NPNetscapeFuncs routines;
  // The table NP_Initialize hands the module.
  NPNetscapeFuncs table;
  // Every call's result, as it is taken.
  void (*taken)(const CallResult& result);
};
extern const BrowserHooks* browserHooks;

// The browser's own routines: every slot filled, those it does not offer
// with one that does nothing.
const NPNetscapeFuncs& OwnRoutines();

// The full path of npzvcert.dll beside the running program.
std::wstring DefaultPluginPath();

// The three exports a browser finds in a module.
struct EntryPoints {
  NP_GetEntryPointsFunc getEntryPoints;
  NP_InitializeFunc initialize;
  NP_ShutdownFunc shutdown;
};

class Instance;

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
  static bool HasPage();

 protected:
  // A module already in this process, not loaded (nor freed) by the browser.
  Browser(HMODULE module, const EntryPoints& entryPoints);

  HMODULE module() const { return module_; }
  const NPPluginFuncs& pluginFuncs() const { return pluginFuncs_; }

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

 protected:
  // One of the class's routines, given the object, the member's identifier,
  // the arguments and the result.
  using Routine = bool (*)(NPObject* obj, NPIdentifier name, const NPVariant* args, uint32_t count,
                           NPVariant* result);
  // The arguments passed as a browser passes them, the result read and
  // let go of as a browser does.
  CallResult Call(Routine routine, NPIdentifier name, std::vector<Value> args,
                  size_t maxText = SIZE_MAX) const;

 private:
  NPObject* obj_;
};

// One embedded element: its NPP record.
class Instance {
 public:
  explicit Instance(const NPPluginFuncs& funcs);
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  NPError newError() const { return newError_; }

  // NPP_GetValue(NPPVpluginScriptableNPObject); the page holds the reference.
  std::unique_ptr<ScriptObject> GetScriptableObject(NPError* error = nullptr);

  NPError Destroy();

 protected:
  // The same object, with a reference for the caller; null on failure.
  NPObject* ScriptableObject(NPError* error);

  NPP npp() { return &npp_; }
  const NPPluginFuncs& funcs() const { return funcs_; }
  bool destroyed() const { return destroyed_; }

 private:
  const NPPluginFuncs& funcs_;
  NPP_t npp_{};
  NPError newError_ = NPERR_GENERIC_ERROR;
  bool destroyed_ = false;
};

// The plug-in started in browser as a page's element, its scriptable object
// taken; null, said on stderr, when it cannot be.
std::unique_ptr<MemberObject> StartPlugin(Browser& browser);

}  // namespace zvhost
