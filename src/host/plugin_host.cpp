#include "host/plugin_host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <utility>

namespace zvhost {

const BrowserHooks* browserHooks = nullptr;

namespace {

struct IdentifierRecord {
  std::string name;
};

struct State {
  std::map<std::string, std::unique_ptr<IdentifierRecord>> identifiers;
  std::optional<Browser::Page> page;
};

State& state() {
  static State s;
  return s;
}

// The routines in force: the host's own calls go through them too, so that
// hooks see memory and objects however they come and go.
const NPNetscapeFuncs& Routines() {
  return browserHooks != nullptr ? browserHooks->routines : OwnRoutines();
}

// ---- The browser's own routines -------------------------------------------

void* NP_LOADDS MemAlloc(uint32_t size) { return std::malloc(size == 0 ? 1 : size); }

void NP_LOADDS MemFree(void* p) { std::free(p); }

NPIdentifier NP_LOADDS GetStringIdentifier(const NPUTF8* name) {
  if (name == nullptr) return nullptr;
  auto& slot = state().identifiers[name];
  if (!slot) slot = std::make_unique<IdentifierRecord>(IdentifierRecord{name});
  return slot.get();
}

NPObject* NP_LOADDS CreateObject(NPP npp, NPClass* aClass) {
  if (aClass == nullptr) return nullptr;
  NPObject* obj = aClass->allocate != nullptr
                      ? aClass->allocate(npp, aClass)
                      : static_cast<NPObject*>(std::malloc(sizeof(NPObject)));
  if (obj == nullptr) return nullptr;
  obj->_class = aClass;
  obj->referenceCount = 1;
  return obj;
}

NPObject* NP_LOADDS RetainObject(NPObject* obj) {
  if (obj == nullptr) return nullptr;
  ++obj->referenceCount;
  return obj;
}

void NP_LOADDS ReleaseObject(NPObject* obj) {
  if (obj == nullptr) return;
  if (--obj->referenceCount != 0) return;
  if (obj->_class->deallocate != nullptr) {
    obj->_class->deallocate(obj);
  } else {
    std::free(obj);
  }
}

void NP_LOADDS ReleaseVariant(NPVariant* variant) {
  if (variant->type == NPVariantType_String) {
    Routines().memfree(const_cast<NPUTF8*>(variant->value.stringValue.UTF8Characters));
  } else if (variant->type == NPVariantType_Object) {
    Routines().releaseobject(variant->value.objectValue);
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
    auto* copy = static_cast<NPUTF8*>(Routines().memalloc(static_cast<uint32_t>(text->size() + 1)));
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
      NPObject* location = Routines().createobject(nullptr, &locationClass);
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
  NPObject* window = Routines().createobject(nullptr, &windowClass);
  if (window == nullptr) return NPERR_OUT_OF_MEMORY_ERROR;
  *static_cast<NPObject**>(value) = window;
  return NPERR_NO_ERROR;
}

bool NP_LOADDS GetProperty(NPP /*npp*/, NPObject* obj, NPIdentifier name, NPVariant* result) {
  if (obj == nullptr || result == nullptr) return false;
  return obj->_class->getProperty != nullptr && obj->_class->getProperty(obj, name, result);
}

// Any routine the browser does not offer does nothing. The caller cleans
// the stack (cdecl), so one argument-less stub serves every signature.
void NP_LOADDS Unused() {}

NPNetscapeFuncs MakeOwnRoutines() {
  NPNetscapeFuncs funcs{};
  funcs.size = sizeof(NPNetscapeFuncs);
  funcs.version = 19;
  funcs.memalloc = MemAlloc;
  funcs.memfree = MemFree;
  funcs.getstringidentifier = GetStringIdentifier;
  funcs.createobject = CreateObject;
  funcs.retainobject = RetainObject;
  funcs.releaseobject = ReleaseObject;
  funcs.releasevariantvalue = ReleaseVariant;
  funcs.getvalue = GetValue;
  funcs.getproperty = GetProperty;
#define ZVHOST_UNUSED_SLOT(slot, type) \
  if (funcs.slot == nullptr) funcs.slot = reinterpret_cast<type>(&Unused);
  NPN_ROUTINE_SLOTS(ZVHOST_UNUSED_SLOT)
#undef ZVHOST_UNUSED_SLOT
  return funcs;
}

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

// Reads a result the way a browser does, then frees it.
CallResult Take(bool ok, NPVariant& result, size_t maxText) {
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
      // Nothing to let go of: the call never wrote it.
      out.resultWritten = false;
      break;
  }
  if (browserHooks != nullptr) browserHooks->taken(out);
  if (out.resultWritten) Routines().releasevariantvalue(&result);
  return out;
}

NPVariant FreshResult() {
  // A browser hands over whatever its stack holds; make it visibly not void.
  NPVariant v;
  std::memset(&v, 0xCD, sizeof v);
  return v;
}

template <typename F>
F Export(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

const NPNetscapeFuncs& OwnRoutines() {
  static const NPNetscapeFuncs own = MakeOwnRoutines();
  return own;
}

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

Browser::Browser(HMODULE module, const EntryPoints& entryPoints)
    : getEntryPoints(entryPoints.getEntryPoints),
      initialize(entryPoints.initialize),
      shutdown(entryPoints.shutdown),
      module_(module) {
  state() = State{};
}

Browser::~Browser() {
  if (module_ == nullptr) return;
  if (shutdown != nullptr) shutdown();
  if (ownsModule_) FreeLibrary(module_);
}

NPNetscapeFuncs Browser::MakeBrowserFuncs() {
  return browserHooks != nullptr ? browserHooks->table : OwnRoutines();
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
bool Browser::HasPage() { return state().page.has_value(); }

// ---- ScriptObject -----------------------------------------------------------

ScriptObject::~ScriptObject() { Routines().releaseobject(obj_); }

CallResult ScriptObject::Call(Routine routine, NPIdentifier name, std::vector<Value> args,
                              size_t maxText) const {
  Arguments arguments(std::move(args));
  if (!arguments.complete()) {
    CallResult notMade;
    notMade.noMemory = true;
    return notMade;
  }
  NPVariant result = FreshResult();
  const bool ok = routine(obj_, name, arguments.data(), arguments.count(), &result);
  return Take(ok, result, maxText);
}

CallResult ScriptObject::Invoke(const std::string& method, std::vector<Value> args,
                                size_t maxText) const {
  return Call(
      [](NPObject* obj, NPIdentifier name, const NPVariant* values, uint32_t count,
         NPVariant* result) { return obj->_class->invoke(obj, name, values, count, result); },
      Browser::Identifier(method), std::move(args), maxText);
}

CallResult ScriptObject::GetProperty(const std::string& name) const {
  return Call([](NPObject* obj, NPIdentifier id, const NPVariant*, uint32_t,
                 NPVariant* result) { return obj->_class->getProperty(obj, id, result); },
              Browser::Identifier(name), {});
}

// ---- Instance ---------------------------------------------------------------

Instance::Instance(const NPPluginFuncs& funcs) : funcs_(funcs) {
  npp_.ndata = this;
  char mimeType[] = "application/zvcert";
  newError_ = funcs_.newp(mimeType, &npp_, 1 /* embedded */, 0, nullptr, nullptr, nullptr);
}

Instance::~Instance() {
  if (!destroyed_) Destroy();
}

NPObject* Instance::ScriptableObject(NPError* error) {
  NPObject* obj = nullptr;
  const NPError e = funcs_.getvalue(&npp_, NPPVpluginScriptableNPObject, &obj);
  if (error != nullptr) *error = e;
  return e == NPERR_NO_ERROR ? obj : nullptr;
}

std::unique_ptr<ScriptObject> Instance::GetScriptableObject(NPError* error) {
  NPObject* obj = ScriptableObject(error);
  if (obj == nullptr) return nullptr;
  return std::make_unique<ScriptObject>(obj);
}

NPError Instance::Destroy() {
  destroyed_ = true;
  NPSavedData* saved = nullptr;
  return funcs_.destroy(&npp_, &saved);
}

// ---- the plug-in as a page's object ------------------------------------------

namespace {

// The instance outlives its object's reference, as in a page.
class PluginMembers final : public MemberObject {
 public:
  PluginMembers(std::unique_ptr<Instance> instance, std::unique_ptr<ScriptObject> object)
      : instance_(std::move(instance)), object_(std::move(object)) {}
  CallResult Invoke(const std::string& method, std::vector<Value> args, size_t maxText) override {
    return object_->Invoke(method, std::move(args), maxText);
  }
  CallResult GetProperty(const std::string& name) override { return object_->GetProperty(name); }
  void SetPage(const std::string& origin) override {
    Browser::SetPage(Browser::Page{true, Browser::Page::Location::Object, origin});
  }

 private:
  std::unique_ptr<Instance> instance_;
  std::unique_ptr<ScriptObject> object_;
};

}  // namespace

std::unique_ptr<MemberObject> StartPlugin(Browser& browser) {
  // A page, whose window appears once the extension names its origin.
  Browser::SetPage(Browser::Page{false, Browser::Page::Location::Missing, {}});
  if (browser.loaded() && browser.Start() == NPERR_NO_ERROR) {
    std::unique_ptr<Instance> instance = browser.NewInstance();
    if (instance->newError() == NPERR_NO_ERROR) {
      std::unique_ptr<ScriptObject> object = instance->GetScriptableObject();
      if (object != nullptr) {
        return std::make_unique<PluginMembers>(std::move(instance), std::move(object));
      }
    }
  }
  std::fputs("npzvcert-host: npzvcert.dll could not be started\n", stderr);
  return nullptr;
}

}  // namespace zvhost
