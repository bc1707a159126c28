// The tests' browser: the host's browser side (src/host/plugin_host.h) with
// its checks attached through zvhost::browserHooks. It records every routine
// the module calls through the table, the memory it hands out and the objects
// alive, fails memory and objects on demand, and drives windows and the rarer
// script calls.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/plugin_host.h"

namespace testbrowser {

using zvhost::CallResult;
using zvhost::DefaultPluginPath;
using zvhost::EntryPoints;
using zvhost::Value;

// The slots of NPNetscapeFuncs by position (0 = geturl ... 44 = construct).
enum class Slot : int {
#define TESTBROWSER_SLOT(slot, type) slot,
  NPN_ROUTINE_SLOTS(TESTBROWSER_SLOT)
#undef TESTBROWSER_SLOT
};

// The call's result is void: written as void, not merely left alone.
inline bool IsVoid(const CallResult& r) {
  return r.resultWritten && std::holds_alternative<std::monostate>(r.value);
}

class ScriptObject : public zvhost::ScriptObject {
 public:
  using zvhost::ScriptObject::ScriptObject;

  bool HasMethod(const std::string& name) const;
  bool HasProperty(const std::string& name) const;
  CallResult InvokeDefault(const std::vector<Value>& args = {}) const;
  bool SetProperty(const std::string& name, const Value& value) const;
  bool RemoveProperty(const std::string& name) const;
  bool Enumerate() const;
  CallResult Construct(const std::vector<Value>& args = {}) const;
};

// An instance that can also have windows.
class Instance : public zvhost::Instance {
 public:
  using zvhost::Instance::Instance;
  ~Instance();

  using zvhost::Instance::destroyed;
  using zvhost::Instance::npp;
  std::unique_ptr<ScriptObject> GetScriptableObject(NPError* error = nullptr);

  // A visible top-level window with a child for the plug-in, as a page has.
  HWND CreatePluginWindow(int width = 200, int height = 100);
  NPError SetWindow(HWND hwnd, uint32_t width = 200, uint32_t height = 100);

 private:
  std::vector<HWND> topWindows_;
  std::vector<std::unique_ptr<NPWindow>> windows_;
};

class Browser : public zvhost::Browser {
 public:
  explicit Browser(const std::wstring& pluginPath = DefaultPluginPath());
  // Drives plug-in code linked into this program, so that a test can also
  // look at its internals or replace its platform services.
  explicit Browser(const EntryPoints& linkedIn);

  using zvhost::Browser::module;
  using zvhost::Browser::pluginFuncs;
  std::unique_ptr<Instance> NewInstance();

  // What the module did through the routine table.
  static int CallsFromModule(Slot slot);
  // Names of the routines the module called beyond the five it may use
  // (eight while a page is set: also getvalue, getproperty and
  // releasevariantvalue, which reading the page's origin takes).
  static std::vector<std::string> UnexpectedCalls();
  // Misuses the browser noticed (freeing foreign memory, releasing a dead
  // object, strings without their NUL, results left unset).
  static std::vector<std::string> Errors();

  static size_t OutstandingAllocations();
  static size_t LiveObjects();
  static int ObjectReferences(NPObject* obj);

  // The next count requests fail as if the browser were out of memory.
  static void FailMemAlloc(int count);
  static void FailCreateObject(int count);
};

// Dispatches pending window messages, painting included.
void PumpMessages();

// Plain text in NPVariant form for calls made by hand.
std::string ToString(const Value& value);

}  // namespace testbrowser
