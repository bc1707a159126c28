#include "host/plugin_host.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <utility>
#if ZVCERT_BROWSER_CHECKS
#include <set>
#include <sstream>
#endif

namespace zvhost {
namespace {

#if ZVCERT_BROWSER_CHECKS
constexpr std::array<const char*, kSlotCount> kSlotNames = {
    "geturl",
    "posturl",
    "requestread",
    "newstream",
    "write",
    "destroystream",
    "status",
    "uagent",
    "memalloc",
    "memfree",
    "memflush",
    "reloadplugins",
    "getJavaEnv",
    "getJavaPeer",
    "geturlnotify",
    "posturlnotify",
    "getvalue",
    "setvalue",
    "invalidaterect",
    "invalidateregion",
    "forceredraw",
    "getstringidentifier",
    "getstringidentifiers",
    "getintidentifier",
    "identifierisstring",
    "utf8fromidentifier",
    "intfromidentifier",
    "createobject",
    "retainobject",
    "releaseobject",
    "invoke",
    "invokeDefault",
    "evaluate",
    "getproperty",
    "setproperty",
    "removeproperty",
    "hasproperty",
    "hasmethod",
    "releasevariantvalue",
    "setexception",
    "pushpopupsenabledstate",
    "poppopupsenabledstate",
    "enumerate",
    "pluginthreadasynccall",
    "construct",
};

// The routines a module may call through the table.
constexpr std::array<Slot, 5> kAllowedSlots = {Slot::memalloc, Slot::getstringidentifier,
                                               Slot::createobject, Slot::retainobject,
                                               Slot::releaseobject};
// And those that reading the page's origin takes, while there is a page.
constexpr std::array<Slot, 3> kPageSlots = {Slot::getvalue, Slot::getproperty,
                                            Slot::releasevariantvalue};

#endif

struct IdentifierRecord {
  std::string name;
};

struct State {
  std::map<std::string, std::unique_ptr<IdentifierRecord>> identifiers;
  std::optional<Browser::Page> page;
#if ZVCERT_BROWSER_CHECKS
  std::array<int, kSlotCount> calls{};
  std::map<void*, size_t> allocations;
  std::set<NPObject*> objects;
  std::vector<std::string> errors;
  int failMemAlloc = 0;
  int failCreateObject = 0;
#endif
};

State& state() {
  static State s;
  return s;
}

#if ZVCERT_BROWSER_CHECKS
void Count(Slot slot) { ++state().calls[static_cast<int>(slot)]; }
void Misuse(const char* what) { state().errors.push_back(what); }
#endif

// ---- The browser's own routines -------------------------------------------

void* NP_LOADDS MemAlloc(uint32_t size) {
#if ZVCERT_BROWSER_CHECKS
  if (state().failMemAlloc > 0) {
    --state().failMemAlloc;
    return nullptr;
  }
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p != nullptr) state().allocations[p] = size;
  return p;
#else
  return std::malloc(size == 0 ? 1 : size);
#endif
}

void NP_LOADDS MemFree(void* p) {
  if (p == nullptr) return;
#if ZVCERT_BROWSER_CHECKS
  if (state().allocations.erase(p) == 0) {
    Misuse("memfree of memory the browser did not hand out");
    return;
  }
#endif
  std::free(p);
}

NPIdentifier NP_LOADDS GetStringIdentifier(const NPUTF8* name) {
  if (name == nullptr) return nullptr;
  auto& slot = state().identifiers[name];
  if (!slot) slot = std::make_unique<IdentifierRecord>(IdentifierRecord{name});
  return slot.get();
}

NPObject* NP_LOADDS CreateObject(NPP npp, NPClass* aClass) {
  if (aClass == nullptr) return nullptr;
#if ZVCERT_BROWSER_CHECKS
  if (state().failCreateObject > 0) {
    --state().failCreateObject;
    return nullptr;
  }
#endif
  NPObject* obj = aClass->allocate != nullptr
                      ? aClass->allocate(npp, aClass)
                      : static_cast<NPObject*>(std::malloc(sizeof(NPObject)));
  if (obj == nullptr) return nullptr;
  obj->_class = aClass;
  obj->referenceCount = 1;
#if ZVCERT_BROWSER_CHECKS
  state().objects.insert(obj);
#endif
  return obj;
}

NPObject* NP_LOADDS RetainObject(NPObject* obj) {
  if (obj == nullptr) return nullptr;
#if ZVCERT_BROWSER_CHECKS
  if (state().objects.count(obj) == 0) {
    Misuse("retainobject on an object that is not alive");
    return obj;
  }
#endif
  ++obj->referenceCount;
  return obj;
}

void NP_LOADDS ReleaseObject(NPObject* obj) {
  if (obj == nullptr) return;
#if ZVCERT_BROWSER_CHECKS
  if (state().objects.count(obj) == 0) {
    Misuse("releaseobject on an object that is not alive");
    return;
  }
  if (--obj->referenceCount != 0) return;
  state().objects.erase(obj);
#else
  if (--obj->referenceCount != 0) return;
#endif
  if (obj->_class->deallocate != nullptr) {
    obj->_class->deallocate(obj);
  } else {
    std::free(obj);
  }
}

void NP_LOADDS ReleaseVariant(NPVariant* variant) {
  if (variant->type == NPVariantType_String) {
    const NPString& s = variant->value.stringValue;
#if ZVCERT_BROWSER_CHECKS
    auto it = state().allocations.find(const_cast<NPUTF8*>(s.UTF8Characters));
    if (it == state().allocations.end()) {
      Misuse("string result not allocated with memalloc");
    } else if (it->second < s.UTF8Length + 1 || s.UTF8Characters[s.UTF8Length] != '\0') {
      Misuse("string result without its NUL");
    }
#endif
    MemFree(const_cast<NPUTF8*>(s.UTF8Characters));
  } else if (variant->type == NPVariantType_Object) {
    ReleaseObject(variant->value.objectValue);
  }
  std::memset(variant, 0, sizeof *variant);
  variant->type = NPVariantType_Void;
}

// ---- The page: a window whose location has an origin ----------------------

// A value handed to the module, which releases it: a string in memory from
// MemAlloc, an object with a reference of its own.
bool Hand(const Value& value, NPVariant* result) {
  std::memset(result, 0, sizeof *result);
  result->type = NPVariantType_Void;
  if (const auto* text = std::get_if<std::string>(&value)) {
    auto* copy = static_cast<NPUTF8*>(MemAlloc(static_cast<uint32_t>(text->size() + 1)));
    if (copy == nullptr) return false;
    std::memcpy(copy, text->c_str(), text->size() + 1);
    result->type = NPVariantType_String;
    result->value.stringValue = {copy, static_cast<uint32_t>(text->size())};
  } else if (const auto* i = std::get_if<int32_t>(&value)) {
    result->type = NPVariantType_Int32;
    result->value.intValue = *i;
  } else if (std::holds_alternative<std::nullptr_t>(value)) {
    result->type = NPVariantType_Null;
  }
  return true;
}

bool NP_LOADDS LocationProperty(NPObject* /*obj*/, NPIdentifier name, NPVariant* result) {
  const std::optional<Browser::Page>& page = state().page;
  return page && name == GetStringIdentifier("origin") && Hand(page->origin, result);
}
NPClass locationClass = {3,       nullptr,          nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, LocationProperty, nullptr, nullptr, nullptr, nullptr};

bool NP_LOADDS WindowProperty(NPObject* /*obj*/, NPIdentifier name, NPVariant* result) {
  const std::optional<Browser::Page>& page = state().page;
  if (!page || name != GetStringIdentifier("location")) return false;
  switch (page->location) {
    case Browser::Page::Location::Text:
      return Hand(page->origin, result);
    case Browser::Page::Location::Object: {
      NPObject* location = CreateObject(nullptr, &locationClass);
      if (location == nullptr) return false;
      std::memset(result, 0, sizeof *result);
      result->type = NPVariantType_Object;
      result->value.objectValue = location;
      return true;
    }
    case Browser::Page::Location::Missing:
      break;
  }
  return false;
}
NPClass windowClass = {3,       nullptr,        nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, WindowProperty, nullptr, nullptr, nullptr, nullptr};

// The window object, with a reference for the caller, for NPNVWindowNPObject.
NPError NP_LOADDS GetValue(NPP /*npp*/, NPNVariable variable, void* value) {
  if (variable != NPNVWindowNPObject || value == nullptr || !state().page ||
      !state().page->window) {
    return NPERR_GENERIC_ERROR;
  }
  NPObject* window = CreateObject(nullptr, &windowClass);
  if (window == nullptr) return NPERR_OUT_OF_MEMORY_ERROR;
  *static_cast<NPObject**>(value) = window;
  return NPERR_NO_ERROR;
}

bool NP_LOADDS GetProperty(NPP /*npp*/, NPObject* obj, NPIdentifier name, NPVariant* result) {
  if (obj == nullptr || result == nullptr) return false;
#if ZVCERT_BROWSER_CHECKS
  if (state().objects.count(obj) == 0) {
    Misuse("getproperty on an object that is not alive");
    return false;
  }
#endif
  return obj->_class->getProperty != nullptr && obj->_class->getProperty(obj, name, result);
}

#if ZVCERT_BROWSER_CHECKS
// ---- The table as the module sees it: every slot counts its calls ---------

void* NP_LOADDS TableMemAlloc(uint32_t size) {
  Count(Slot::memalloc);
  return MemAlloc(size);
}
void NP_LOADDS TableMemFree(void* p) {
  Count(Slot::memfree);
  MemFree(p);
}
NPIdentifier NP_LOADDS TableGetStringIdentifier(const NPUTF8* name) {
  Count(Slot::getstringidentifier);
  return GetStringIdentifier(name);
}
NPObject* NP_LOADDS TableCreateObject(NPP npp, NPClass* aClass) {
  Count(Slot::createobject);
  return CreateObject(npp, aClass);
}
NPObject* NP_LOADDS TableRetainObject(NPObject* obj) {
  Count(Slot::retainobject);
  return RetainObject(obj);
}
void NP_LOADDS TableReleaseObject(NPObject* obj) {
  Count(Slot::releaseobject);
  ReleaseObject(obj);
}
void NP_LOADDS TableReleaseVariantValue(NPVariant* variant) {
  Count(Slot::releasevariantvalue);
  ReleaseVariant(variant);
}
NPError NP_LOADDS TableGetValue(NPP npp, NPNVariable variable, void* value) {
  Count(Slot::getvalue);
  return GetValue(npp, variable, value);
}
bool NP_LOADDS TableGetProperty(NPP npp, NPObject* obj, NPIdentifier name, NPVariant* result) {
  Count(Slot::getproperty);
  return GetProperty(npp, obj, name, result);
}

// Any other routine only records the call. The caller cleans the stack
// (cdecl), so one argument-less stub serves every signature.
template <int N>
void NP_LOADDS Unexpected() {
  ++state().calls[N];
}

template <int... N>
constexpr std::array<NPN_OpaqueProcPtr, sizeof...(N)> MakeStubs(std::integer_sequence<int, N...>) {
  return {&Unexpected<N>...};
}
constexpr auto kStubs = MakeStubs(std::make_integer_sequence<int, kSlotCount>{});
#else
// The table holds the browser's own routines; any other routine does
// nothing (cdecl, so one argument-less stub serves every signature).
void NP_LOADDS Unused() {}

constexpr size_t kTableSlots =
    (sizeof(NPNetscapeFuncs) - offsetof(NPNetscapeFuncs, geturl)) / sizeof(NPN_OpaqueProcPtr);
template <size_t... N>
constexpr std::array<NPN_OpaqueProcPtr, sizeof...(N)> MakeStubs(std::index_sequence<N...>) {
  return {((void)N, &Unused)...};
}
constexpr auto kStubs = MakeStubs(std::make_index_sequence<kTableSlots>{});

constexpr auto TableMemAlloc = &MemAlloc;
constexpr auto TableMemFree = &MemFree;
constexpr auto TableGetStringIdentifier = &GetStringIdentifier;
constexpr auto TableCreateObject = &CreateObject;
constexpr auto TableRetainObject = &RetainObject;
constexpr auto TableReleaseObject = &ReleaseObject;
constexpr auto TableReleaseVariantValue = &ReleaseVariant;
constexpr auto TableGetValue = &GetValue;
constexpr auto TableGetProperty = &GetProperty;
#endif

NPVariant ToVariant(const Value& value) {
  NPVariant v{};
  std::visit(
      [&v](const auto& x) {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          v.type = NPVariantType_Void;
        } else if constexpr (std::is_same_v<T, std::nullptr_t>) {
          v.type = NPVariantType_Null;
        } else if constexpr (std::is_same_v<T, bool>) {
          v.type = NPVariantType_Bool;
          v.value.boolValue = x;
        } else if constexpr (std::is_same_v<T, int32_t>) {
          v.type = NPVariantType_Int32;
          v.value.intValue = x;
        } else if constexpr (std::is_same_v<T, double>) {
          v.type = NPVariantType_Double;
          v.value.doubleValue = x;
        } else if constexpr (std::is_same_v<T, std::string>) {
          v.type = NPVariantType_String;
          v.value.stringValue.UTF8Characters = x.data();
          v.value.stringValue.UTF8Length = static_cast<uint32_t>(x.size());
        } else {
          v.type = NPVariantType_Object;
          v.value.objectValue = x;
        }
      },
      value);
  return v;
}

// Arguments as a browser passes them: strings in their own exact-size
// buffers, with no terminator behind them. Each string given is let go of
// once copied, so that a long one is held twice at most while the copies are
// made; complete() is false when there was no memory for one.
class Arguments {
 public:
  explicit Arguments(std::vector<Value> values) {
    for (Value& value : values) {
      NPVariant v = ToVariant(value);
      if (v.type == NPVariantType_String) {
        const NPString s = v.value.stringValue;
        std::unique_ptr<char[]> copy(new (std::nothrow) char[s.UTF8Length == 0 ? 1 : s.UTF8Length]);
        if (copy == nullptr) {
          complete_ = false;
          return;
        }
        if (s.UTF8Length != 0) std::memcpy(copy.get(), s.UTF8Characters, s.UTF8Length);
        v.value.stringValue.UTF8Characters = copy.get();
        strings_.push_back(std::move(copy));
        value = std::monostate{};
      }
      variants_.push_back(v);
    }
  }
  bool complete() const { return complete_; }
  const NPVariant* data() const { return variants_.empty() ? nullptr : variants_.data(); }
  uint32_t count() const { return static_cast<uint32_t>(variants_.size()); }

 private:
  bool complete_ = true;
  std::vector<NPVariant> variants_;
  std::vector<std::unique_ptr<char[]>> strings_;
};

// A call that could not be made for want of memory.
CallResult NotMade() {
  CallResult out;
  out.noMemory = true;
  return out;
}

// Reads a result the way a browser does, then frees it.
CallResult Take(bool ok, NPVariant& result, size_t maxText = SIZE_MAX) {
  CallResult out;
  out.ok = ok;
  switch (result.type) {
    case NPVariantType_Void:
      out.value = std::monostate{};
      break;
    case NPVariantType_Null:
      out.value = nullptr;
      break;
    case NPVariantType_Bool:
      out.value = result.value.boolValue;
      break;
    case NPVariantType_Int32:
      out.value = result.value.intValue;
      break;
    case NPVariantType_Double:
      out.value = result.value.doubleValue;
      break;
    case NPVariantType_String:
      if (result.value.stringValue.UTF8Length > maxText) {
        out.textTooLong = true;
      } else {
        out.value = std::string(result.value.stringValue.UTF8Characters,
                                result.value.stringValue.UTF8Length);
      }
      break;
    case NPVariantType_Object:
      // The page would hold this reference; the tests only look at it.
      out.value = result.value.objectValue;
      break;
    default:
      // A failed call may leave the result alone; a successful one may not.
#if ZVCERT_BROWSER_CHECKS
      out.resultWritten = false;
      if (ok) Misuse("successful call left its result unset");
#endif
      return out;
  }
  ReleaseVariant(&result);
  return out;
}

NPVariant FreshResult() {
  // A browser hands over whatever its stack holds; make it visibly not void.
  NPVariant v;
  std::memset(&v, 0xCD, sizeof v);
  return v;
}

#if ZVCERT_BROWSER_CHECKS
constexpr char kHostWindowClass[] = "ZvTestPage";
constexpr char kPluginWindowClass[] = "ZvTestPluginArea";

void RegisterWindowClasses() {
  static bool registered = false;
  if (registered) return;
  WNDCLASSA page{};
  page.lpfnWndProc = DefWindowProcA;
  page.hInstance = GetModuleHandleA(nullptr);
  page.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  page.lpszClassName = kHostWindowClass;
  RegisterClassA(&page);
  WNDCLASSA area = page;
  area.lpszClassName = kPluginWindowClass;
  RegisterClassA(&area);
  registered = true;
}
#endif

template <typename F>
F Export(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

std::wstring DefaultPluginPath() {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(n);
  path.erase(path.find_last_of(L"\\/") + 1);
  return path + L"npzvcert.dll";
}

// ---- Browser ----------------------------------------------------------------

Browser::Browser(const std::wstring& pluginPath) {
  state() = State{};
  module_ = LoadLibraryW(pluginPath.c_str());
  if (module_ == nullptr) return;
  ownsModule_ = true;
  getEntryPoints = Export<NP_GetEntryPointsFunc>(module_, "NP_GetEntryPoints");
  initialize = Export<NP_InitializeFunc>(module_, "NP_Initialize");
  shutdown = Export<NP_ShutdownFunc>(module_, "NP_Shutdown");
}

Browser::~Browser() {
  if (module_ == nullptr) return;
  if (shutdown != nullptr) shutdown();
  if (ownsModule_) FreeLibrary(module_);
}

NPNetscapeFuncs Browser::MakeBrowserFuncs() {
  NPNetscapeFuncs funcs{};
  funcs.size = sizeof(NPNetscapeFuncs);
  funcs.version = 19;
  std::memcpy(reinterpret_cast<char*>(&funcs) + offsetof(NPNetscapeFuncs, geturl), kStubs.data(),
              sizeof kStubs);
  funcs.memalloc = TableMemAlloc;
  funcs.memfree = TableMemFree;
  funcs.getstringidentifier = TableGetStringIdentifier;
  funcs.createobject = TableCreateObject;
  funcs.retainobject = TableRetainObject;
  funcs.releaseobject = TableReleaseObject;
  funcs.releasevariantvalue = TableReleaseVariantValue;
  funcs.getvalue = TableGetValue;
  funcs.getproperty = TableGetProperty;
  return funcs;
}

NPError Browser::Start() {
  if (getEntryPoints == nullptr || initialize == nullptr) return NPERR_MODULE_LOAD_FAILED_ERROR;
  pluginFuncs_ = NPPluginFuncs{};
  pluginFuncs_.size = sizeof(NPPluginFuncs);
  NPError error = getEntryPoints(&pluginFuncs_);
  if (error != NPERR_NO_ERROR) return error;
  NPNetscapeFuncs funcs = MakeBrowserFuncs();
  return initialize(&funcs);
}

std::unique_ptr<Instance> Browser::NewInstance() {
  return std::make_unique<Instance>(pluginFuncs_);
}

NPIdentifier Browser::Identifier(const std::string& name) {
  return GetStringIdentifier(name.c_str());
}

void Browser::SetPage(std::optional<Page> page) { state().page = std::move(page); }

#if ZVCERT_BROWSER_CHECKS
Browser::Browser(const EntryPoints& linkedIn)
    : getEntryPoints(linkedIn.getEntryPoints),
      initialize(linkedIn.initialize),
      shutdown(linkedIn.shutdown) {
  state() = State{};
  module_ = GetModuleHandleW(nullptr);
}

int Browser::CallsFromModule(Slot slot) { return state().calls[static_cast<int>(slot)]; }

std::vector<std::string> Browser::UnexpectedCalls() {
  std::vector<std::string> names;
  for (int i = 0; i < kSlotCount; ++i) {
    bool allowed = false;
    for (Slot slot : kAllowedSlots) allowed = allowed || static_cast<int>(slot) == i;
    for (Slot slot : kPageSlots) allowed = allowed || (state().page && static_cast<int>(slot) == i);
    if (!allowed && state().calls[i] != 0) names.push_back(kSlotNames[i]);
  }
  return names;
}

std::vector<std::string> Browser::Errors() { return state().errors; }
size_t Browser::OutstandingAllocations() { return state().allocations.size(); }
size_t Browser::LiveObjects() { return state().objects.size(); }

int Browser::ObjectReferences(NPObject* obj) {
  return state().objects.count(obj) != 0 ? static_cast<int>(obj->referenceCount) : 0;
}

void Browser::FailMemAlloc(int count) { state().failMemAlloc = count; }
void Browser::FailCreateObject(int count) { state().failCreateObject = count; }
#endif

// ---- ScriptObject -----------------------------------------------------------

ScriptObject::~ScriptObject() { ReleaseObject(obj_); }

CallResult ScriptObject::Invoke(const std::string& method, std::vector<Value> args,
                                size_t maxText) const {
  Arguments arguments(std::move(args));
  if (!arguments.complete()) return NotMade();
  NPVariant result = FreshResult();
  const bool ok = obj_->_class->invoke(obj_, Browser::Identifier(method), arguments.data(),
                                       arguments.count(), &result);
  return Take(ok, result, maxText);
}

CallResult ScriptObject::GetProperty(const std::string& name) const {
  NPVariant result = FreshResult();
  const bool ok = obj_->_class->getProperty(obj_, Browser::Identifier(name), &result);
  return Take(ok, result);
}

#if ZVCERT_BROWSER_CHECKS
bool ScriptObject::HasMethod(const std::string& name) const {
  return obj_->_class->hasMethod(obj_, Browser::Identifier(name));
}

bool ScriptObject::HasProperty(const std::string& name) const {
  return obj_->_class->hasProperty(obj_, Browser::Identifier(name));
}

CallResult ScriptObject::InvokeDefault(const std::vector<Value>& args) const {
  Arguments arguments(args);
  if (!arguments.complete()) return NotMade();
  NPVariant result = FreshResult();
  const bool ok = obj_->_class->invokeDefault(obj_, arguments.data(), arguments.count(), &result);
  return Take(ok, result);
}

bool ScriptObject::SetProperty(const std::string& name, const Value& value) const {
  Arguments arguments({value});
  if (!arguments.complete()) return false;
  return obj_->_class->setProperty(obj_, Browser::Identifier(name), arguments.data());
}

bool ScriptObject::RemoveProperty(const std::string& name) const {
  return obj_->_class->removeProperty(obj_, Browser::Identifier(name));
}

bool ScriptObject::Enumerate() const {
  NPIdentifier* identifiers = nullptr;
  uint32_t count = 0;
  return obj_->_class->enumerate(obj_, &identifiers, &count);
}

CallResult ScriptObject::Construct(const std::vector<Value>& args) const {
  Arguments arguments(args);
  if (!arguments.complete()) return NotMade();
  NPVariant result = FreshResult();
  const bool ok = obj_->_class->construct(obj_, arguments.data(), arguments.count(), &result);
  return Take(ok, result);
}
#endif

// ---- Instance ---------------------------------------------------------------

Instance::Instance(const NPPluginFuncs& funcs) : funcs_(funcs) {
  npp_.ndata = this;
  char mimeType[] = "application/zvcert";
  newError_ = funcs_.newp(mimeType, &npp_, 1 /* embedded */, 0, nullptr, nullptr, nullptr);
}

Instance::~Instance() {
  if (!destroyed_) Destroy();
#if ZVCERT_BROWSER_CHECKS
  for (HWND top : topWindows_) DestroyWindow(top);
#endif
}

std::unique_ptr<ScriptObject> Instance::GetScriptableObject(NPError* error) {
  NPObject* obj = nullptr;
  const NPError e = funcs_.getvalue(&npp_, NPPVpluginScriptableNPObject, &obj);
  if (error != nullptr) *error = e;
  if (e != NPERR_NO_ERROR || obj == nullptr) return nullptr;
  return std::make_unique<ScriptObject>(obj);
}

NPError Instance::Destroy() {
  destroyed_ = true;
  NPSavedData* saved = nullptr;
  return funcs_.destroy(&npp_, &saved);
}

#if ZVCERT_BROWSER_CHECKS
HWND Instance::CreatePluginWindow(int width, int height) {
  RegisterWindowClasses();
  HWND top =
      CreateWindowA(kHostWindowClass, "page", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, width + 40,
                    height + 60, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (top == nullptr) return nullptr;
  topWindows_.push_back(top);
  HWND area = CreateWindowA(kPluginWindowClass, "", WS_CHILD | WS_VISIBLE, 0, 0, width, height, top,
                            nullptr, GetModuleHandleA(nullptr), nullptr);
  PumpMessages();
  return area;
}

NPError Instance::SetWindow(HWND hwnd, uint32_t width, uint32_t height) {
  auto record = std::make_unique<NPWindow>();
  record->window = hwnd;
  record->width = width;
  record->height = height;
  record->clipRect = {0, 0, static_cast<uint16_t>(height), static_cast<uint16_t>(width)};
  record->type = NPWindowTypeWindow;
  windows_.push_back(std::move(record));
  return funcs_.setwindow(&npp_, windows_.back().get());
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

std::string ToString(const Value& value) {
  std::ostringstream out;
  std::visit(
      [&out](const auto& x) {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          out << "void";
        } else if constexpr (std::is_same_v<T, std::nullptr_t>) {
          out << "null";
        } else if constexpr (std::is_same_v<T, std::string>) {
          out << '"' << x << '"';
        } else if constexpr (std::is_same_v<T, bool>) {
          out << (x ? "true" : "false");
        } else {
          out << x;
        }
      },
      value);
  return out.str();
}
#endif

}  // namespace zvhost
