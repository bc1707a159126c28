#include "browser/test_browser.h"

#include <array>
#include <map>
#include <set>
#include <sstream>
#include <type_traits>
#include <utility>

namespace testbrowser {
namespace {

constexpr std::array<const char*, kNetscapeFuncsSlotCount> kSlotNames = {
#define TESTBROWSER_NAME(slot, type) #slot,
    NPN_ROUTINE_SLOTS(TESTBROWSER_NAME)
#undef TESTBROWSER_NAME
};

// The routines a module may call through the table.
constexpr std::array<Slot, 5> kAllowedSlots = {Slot::memalloc, Slot::getstringidentifier,
                                               Slot::createobject, Slot::retainobject,
                                               Slot::releaseobject};
// And those that reading the page's origin takes, while there is a page.
constexpr std::array<Slot, 3> kPageSlots = {Slot::getvalue, Slot::getproperty,
                                            Slot::releasevariantvalue};

struct Checks {
  std::array<int, kNetscapeFuncsSlotCount> calls{};
  std::map<void*, size_t> allocations;
  std::set<NPObject*> objects;
  std::vector<std::string> errors;
  int failMemAlloc = 0;
  int failCreateObject = 0;
};

Checks& checks() {
  static Checks c;
  return c;
}

void Misuse(const char* what) { checks().errors.push_back(what); }
bool Alive(NPObject* obj) { return checks().objects.count(obj) != 0; }
const NPNetscapeFuncs& own() { return zvhost::OwnRoutines(); }

// ---- The browser's routines tracked: as the module and the host call them --

void* NP_LOADDS MemAlloc(uint32_t size) {
  if (checks().failMemAlloc > 0) {
    --checks().failMemAlloc;
    return nullptr;
  }
  void* p = own().memalloc(size);
  if (p != nullptr) checks().allocations[p] = size;
  return p;
}

void NP_LOADDS MemFree(void* p) {
  if (p == nullptr) return;
  if (checks().allocations.erase(p) == 0) {
    Misuse("memfree of memory the browser did not hand out");
    return;
  }
  own().memfree(p);
}

NPObject* NP_LOADDS CreateObject(NPP npp, NPClass* aClass) {
  if (aClass == nullptr) return nullptr;
  if (checks().failCreateObject > 0) {
    --checks().failCreateObject;
    return nullptr;
  }
  NPObject* obj = own().createobject(npp, aClass);
  if (obj != nullptr) checks().objects.insert(obj);
  return obj;
}

NPObject* NP_LOADDS RetainObject(NPObject* obj) {
  if (obj != nullptr && !Alive(obj)) {
    Misuse("retainobject on an object that is not alive");
    return obj;
  }
  return own().retainobject(obj);
}

void NP_LOADDS ReleaseObject(NPObject* obj) {
  if (obj == nullptr) return;
  if (!Alive(obj)) {
    Misuse("releaseobject on an object that is not alive");
    return;
  }
  if (obj->referenceCount == 1) checks().objects.erase(obj);
  own().releaseobject(obj);
}

void NP_LOADDS ReleaseVariant(NPVariant* variant) {
  if (variant->type == NPVariantType_String) {
    const NPString& s = variant->value.stringValue;
    auto it = checks().allocations.find(const_cast<NPUTF8*>(s.UTF8Characters));
    if (it == checks().allocations.end()) {
      Misuse("string result not allocated with memalloc");
    } else if (it->second < s.UTF8Length + 1 || s.UTF8Characters[s.UTF8Length] != '\0') {
      Misuse("string result without its NUL");
    }
  }
  own().releasevariantvalue(variant);
}

bool NP_LOADDS GetProperty(NPP npp, NPObject* obj, NPIdentifier name, NPVariant* result) {
  if (obj != nullptr && result != nullptr && !Alive(obj)) {
    Misuse("getproperty on an object that is not alive");
    return false;
  }
  return own().getproperty(npp, obj, name, result);
}

// A failed call may leave the result alone; a successful one may not.
void Taken(const CallResult& result) {
  if (result.ok && !result.resultWritten) Misuse("successful call left its result unset");
}

const zvhost::BrowserHooks& Hooks();

// ---- The table as the module sees it: every slot counts its calls ---------

template <Slot slot, auto routine,
          typename = std::remove_reference_t<decltype(std::declval<NPNetscapeFuncs&>().*routine)>>
struct Counted;
template <Slot slot, auto routine, typename Result, typename... Arguments>
struct Counted<slot, routine, Result (*)(Arguments...)> {
  static Result NP_LOADDS Call(Arguments... arguments) {
    ++checks().calls[static_cast<int>(slot)];
    return (Hooks().routines.*routine)(arguments...);
  }
};

zvhost::BrowserHooks MakeHooks() {
  zvhost::BrowserHooks hooks{own(), own(), Taken};
  NPNetscapeFuncs& tracked = hooks.routines;
  tracked.memalloc = MemAlloc;
  tracked.memfree = MemFree;
  tracked.createobject = CreateObject;
  tracked.retainobject = RetainObject;
  tracked.releaseobject = ReleaseObject;
  tracked.releasevariantvalue = ReleaseVariant;
  tracked.getproperty = GetProperty;
#define TESTBROWSER_COUNTED(slot, type) \
  hooks.table.slot = &Counted<Slot::slot, &NPNetscapeFuncs::slot>::Call;
  NPN_ROUTINE_SLOTS(TESTBROWSER_COUNTED)
#undef TESTBROWSER_COUNTED
  return hooks;
}

const zvhost::BrowserHooks& Hooks() {
  static const zvhost::BrowserHooks hooks = MakeHooks();
  return hooks;
}

// A new browser starts with a clean record.
void Attach() {
  checks() = Checks{};
  zvhost::browserHooks = &Hooks();
}

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

}  // namespace

// ---- Browser ----------------------------------------------------------------

Browser::Browser(const std::wstring& pluginPath) : zvhost::Browser(pluginPath) { Attach(); }

Browser::Browser(const EntryPoints& linkedIn)
    : zvhost::Browser(GetModuleHandleW(nullptr), linkedIn) {
  Attach();
}

std::unique_ptr<Instance> Browser::NewInstance() {
  return std::make_unique<Instance>(pluginFuncs());
}

int Browser::CallsFromModule(Slot slot) { return checks().calls[static_cast<int>(slot)]; }

std::vector<std::string> Browser::UnexpectedCalls() {
  std::vector<std::string> names;
  for (int i = 0; i < kNetscapeFuncsSlotCount; ++i) {
    bool allowed = false;
    for (Slot slot : kAllowedSlots) allowed = allowed || static_cast<int>(slot) == i;
    for (Slot slot : kPageSlots) allowed = allowed || (HasPage() && static_cast<int>(slot) == i);
    if (!allowed && checks().calls[i] != 0) names.push_back(kSlotNames[i]);
  }
  return names;
}

std::vector<std::string> Browser::Errors() { return checks().errors; }
size_t Browser::OutstandingAllocations() { return checks().allocations.size(); }
size_t Browser::LiveObjects() { return checks().objects.size(); }

int Browser::ObjectReferences(NPObject* obj) {
  return Alive(obj) ? static_cast<int>(obj->referenceCount) : 0;
}

void Browser::FailMemAlloc(int count) { checks().failMemAlloc = count; }
void Browser::FailCreateObject(int count) { checks().failCreateObject = count; }

// ---- ScriptObject -----------------------------------------------------------

bool ScriptObject::HasMethod(const std::string& name) const {
  return get()->_class->hasMethod(get(), Browser::Identifier(name));
}

bool ScriptObject::HasProperty(const std::string& name) const {
  return get()->_class->hasProperty(get(), Browser::Identifier(name));
}

CallResult ScriptObject::InvokeDefault(const std::vector<Value>& args) const {
  return Call(
      [](NPObject* obj, NPIdentifier, const NPVariant* values, uint32_t count, NPVariant* result) {
        return obj->_class->invokeDefault(obj, values, count, result);
      },
      nullptr, args);
}

bool ScriptObject::SetProperty(const std::string& name, const Value& value) const {
  // Setting has no result: it is written void, so that nothing is taken.
  return Call(
             [](NPObject* obj, NPIdentifier id, const NPVariant* values, uint32_t,
                NPVariant* result) {
               result->type = NPVariantType_Void;
               return obj->_class->setProperty(obj, id, values);
             },
             Browser::Identifier(name), {value})
      .ok;
}

bool ScriptObject::RemoveProperty(const std::string& name) const {
  return get()->_class->removeProperty(get(), Browser::Identifier(name));
}

bool ScriptObject::Enumerate() const {
  NPIdentifier* identifiers = nullptr;
  uint32_t count = 0;
  return get()->_class->enumerate(get(), &identifiers, &count);
}

CallResult ScriptObject::Construct(const std::vector<Value>& args) const {
  return Call([](NPObject* obj, NPIdentifier, const NPVariant* values, uint32_t count,
                 NPVariant* result) { return obj->_class->construct(obj, values, count, result); },
              nullptr, args);
}

// ---- Instance ---------------------------------------------------------------

Instance::~Instance() {
  // The plug-in lets go of its window before the window goes.
  if (!destroyed()) Destroy();
  for (HWND top : topWindows_) DestroyWindow(top);
}

std::unique_ptr<ScriptObject> Instance::GetScriptableObject(NPError* error) {
  NPObject* obj = ScriptableObject(error);
  if (obj == nullptr) return nullptr;
  return std::make_unique<ScriptObject>(obj);
}

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
  return funcs().setwindow(npp(), windows_.back().get());
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

}  // namespace testbrowser
