// Loads npzvcert.dll the way a browser does and prints what a page would see:
// the plug-in's name, its properties and the methods it recognises.
#include <cstdio>
#include <string>

#include "browser/test_browser.h"
#include "script/members.h"

using namespace testbrowser;

int wmain(int argc, wchar_t** argv) {
  const std::wstring path = argc > 1 ? argv[1] : DefaultPluginPath();
  Browser browser(path);
  if (!browser.loaded()) {
    std::fprintf(stderr, "probe: cannot load %ls (error %lu)\n", path.c_str(), GetLastError());
    return 1;
  }
  if (const NPError error = browser.Start(); error != NPERR_NO_ERROR) {
    std::fprintf(stderr, "probe: the plug-in refused to start (NPError %d)\n", error);
    return 1;
  }
  auto instance = browser.NewInstance();
  const char* name = nullptr;
  browser.pluginFuncs().getvalue(instance->npp(), NPPVpluginNameString, &name);
  auto object = instance->GetScriptableObject();
  if (object == nullptr) {
    std::fprintf(stderr, "probe: no scriptable object\n");
    return 1;
  }
  std::printf("plug-in name  %s\n", name != nullptr ? name : "(none)");
  for (const char* property : {"Version", "HostName"}) {
    const CallResult r = object->GetProperty(property);
    std::printf("%-13s %s%s\n", property, ToString(r.value).c_str(), r.ok ? "" : " (failed)");
  }
  std::string methods;
  for (size_t i = zvcert::kFirstMethod; i < zvcert::kMemberCount; ++i) {
    const std::string member(zvcert::kMembers[i].name);
    if (object->HasMethod(member)) methods += (methods.empty() ? "" : " ") + member;
  }
  std::printf("methods       %s\n", methods.c_str());
  object.reset();
  instance->Destroy();
  const auto unexpected = Browser::UnexpectedCalls();
  if (!unexpected.empty()) {
    std::fprintf(stderr, "probe: the plug-in called browser routines it must not use\n");
    return 1;
  }
  return 0;
}
