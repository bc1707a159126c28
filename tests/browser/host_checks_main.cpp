// npzvcert-host-checks.exe, for the Node tests: the host's connection over the
// tests' browser. It also takes --plugin=<path of a DLL> to load another
// build's plug-in, and exits 2 when the plug-in used the browser as it must
// not.
#include <cstdio>
#include <string_view>

#include "browser/test_browser.h"
#include "host/connection.h"
#include "host/framing.h"

namespace {

using testbrowser::Browser;

std::wstring PluginPath(int argc, char** argv) {
  constexpr std::string_view kOption = "--plugin=";
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.substr(0, kOption.size()) != kOption) continue;
    std::wstring path(arg.size(), L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, argv[i] + kOption.size(), -1, path.data(),
                                      static_cast<int>(path.size()));
    path.resize(n > 0 ? n - 1 : 0);
    return path;
  }
  return zvhost::DefaultPluginPath();
}

// What a browser would notice once the instance is gone: routines the
// plug-in must not call, misuse, memory or objects left behind.
int BrowserVerdict() {
  bool clean = true;
  for (const std::string& name : Browser::UnexpectedCalls()) {
    std::fprintf(stderr, "npzvcert-host: the plug-in called %s\n", name.c_str());
    clean = false;
  }
  for (const std::string& misuse : Browser::Errors()) {
    std::fprintf(stderr, "npzvcert-host: %s\n", misuse.c_str());
    clean = false;
  }
  if (Browser::OutstandingAllocations() != 0 || Browser::LiveObjects() != 0) {
    std::fprintf(stderr, "npzvcert-host: %u allocations and %u objects left\n",
                 static_cast<unsigned>(Browser::OutstandingAllocations()),
                 static_cast<unsigned>(Browser::LiveObjects()));
    clean = false;
  }
  return clean ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  zvhost::framing::UseBinaryStreams();
  Browser browser(PluginPath(argc, argv));
  {
    zvhost::Connection connection(zvhost::StartPlugin(browser), false);
    zvhost::Serve(connection);
  }
  return BrowserVerdict();
}
