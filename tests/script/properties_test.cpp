// The Version and HostName properties, read through the browser.
#include <windows.h>

#include <string>

#include "browser/plugin_test.h"

namespace testbrowser {
namespace {

using Properties = ObjectTest;

std::string Utf8(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

TEST_F(Properties, VersionIsTheDigitsOfTheFilesOwnFileVersion) {
  // Read the built file's resource independently of the plug-in.
  const std::wstring path = DefaultPluginPath();
  DWORD handle = 0;
  std::string info(GetFileVersionInfoSizeW(path.c_str(), &handle), '\0');
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, info.size(), info.data()));
  wchar_t* text = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904e4\\FileVersion",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_EQ(std::wstring(text), L"1, 0, 2, 2");

  const CallResult r = object->GetProperty("Version");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(Int(r), 1022);
}

TEST_F(Properties, HostNameIsTheProcessComputerName) {
  wchar_t name[256] = {};
  const DWORD n = GetEnvironmentVariableW(L"COMPUTERNAME", name, 256);
  ASSERT_GT(n, 0u) << "Wine sets COMPUTERNAME from the host name";
  const CallResult r = object->GetProperty("HostName");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(Text(r), Utf8(std::wstring(name, n).substr(0, 79)));
}

TEST_F(Properties, HostNameIsCutTo79UnitsAndHandedOverAsUtf8) {
  const std::wstring emoji = L"\U0001F600";  // one surrogate pair
  struct Case {
    const char* what;
    std::wstring name;
    std::string expected;
  };
  const Case cases[] = {
      {"plain", L"WORKSTATION-7", "WORKSTATION-7"},
      {"100 characters", std::wstring(100, L'N'), std::string(79, 'N')},
      {"exactly 79", std::wstring(79, L'Q'), std::string(79, 'Q')},
      {"Latin", L"B\u00DCRO-M\u00DCLLER", "B\xC3\x9CRO-M\xC3\x9CLLER"},
      {"Cyrillic and CJK", L"\u041F\u041A-\u4E2D", "\xD0\x9F\xD0\x9A-\xE4\xB8\xAD"},
      {"pair across the cut", std::wstring(78, L'A') + emoji, std::string(78, 'A')},
      {"pair inside the cut", std::wstring(77, L'A') + emoji + L"Z",
       std::string(77, 'A') + "\xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"COMPUTERNAME", c.name.c_str()));
    const CallResult r = object->GetProperty("HostName");
    EXPECT_TRUE(r.ok) << c.what;
    EXPECT_EQ(Text(r), c.expected) << c.what;
  }
}

TEST_F(Properties, HostNameIsEmptyWhenTheVariableIsUnset) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"COMPUTERNAME", nullptr));
  const int before = Browser::CallsFromModule(Slot::memalloc);
  const CallResult r = object->GetProperty("HostName");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(Text(r), "");
  // Even the empty text carries its NUL in browser memory (checked on release).
  EXPECT_EQ(Browser::CallsFromModule(Slot::memalloc), before + 1);
}

TEST_F(Properties, HostNameFailsWithVoidWhenTheBrowserHasNoMemory) {
  Browser::FailMemAlloc(1);
  const CallResult r = object->GetProperty("HostName");
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(IsVoid(r));
  EXPECT_TRUE(object->GetProperty("HostName").ok) << "the next read works again";
}

TEST_F(Properties, ReadsLeaveNoBrowserMemoryBehind) {
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(object->GetProperty("HostName").ok);
    ASSERT_TRUE(object->GetProperty("Version").ok);
  }
  EXPECT_EQ(Browser::OutstandingAllocations(), 0u);
}

}  // namespace
}  // namespace testbrowser
