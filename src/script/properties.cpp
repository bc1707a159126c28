// The two read-only properties, Version and HostName.
#include <windows.h>

#include <array>
#include <memory>
#include <new>

#include "encoding/utf16.h"
#include "npapi/module.h"
#include "script/page_origin.h"
#include "script/results.h"
#include "script/scriptable_object.h"
#include "script/version_number.h"

namespace zvcert {
namespace {

constexpr size_t kMaxHostNameUnits = 79;

}  // namespace

bool GetVersionProperty(NPVariant* result) {
  std::array<char, 256> path{};
  GetModuleFileNameA(moduleHandle, path.data(), static_cast<DWORD>(path.size()));
  path.back() = '\0';
  if (path[0] == '\0') return false;

  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.data(), &handle);
  if (size == 0) return false;
  std::unique_ptr<char[]> info(new (std::nothrow) char[size]);
  if (info == nullptr || !GetFileVersionInfoA(path.data(), 0, size, info.get())) return false;

  // Only the one language and code-page block the resource carries.
  char* text = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(info.get(), "\\StringFileInfo\\040904e4\\FileVersion",
                      reinterpret_cast<void**>(&text), &length) ||
      text == nullptr) {
    return false;
  }
  SetIntResult(result, VersionNumberFromText(std::string_view(text, length)));
  return true;
}

// The name is read as UTF-16 and handed to script as UTF-8, so non-ASCII
// computer names arrive intact. A locked build tells it to its own pages
// only; any other reads it as unset.
bool GetHostNameProperty(NPP npp, NPVariant* result) {
  const bool served = pageOriginCheck == nullptr || pageOriginCheck(npp);
  const DWORD needed = served ? GetEnvironmentVariableW(L"COMPUTERNAME", nullptr, 0) : 0;
  std::u16string_view name;
  std::unique_ptr<wchar_t[]> buffer;
  if (needed > 0) {
    buffer.reset(new (std::nothrow) wchar_t[needed]);
    if (buffer == nullptr) return false;
    const DWORD length = GetEnvironmentVariableW(L"COMPUTERNAME", buffer.get(), needed);
    if (length < needed) name = {reinterpret_cast<const char16_t*>(buffer.get()), length};
  }
  name = name.substr(0, CutUtf16(name, kMaxHostNameUnits));

  std::array<char, kMaxHostNameUnits * kMaxUtf8BytesPerUtf16Unit> utf8;
  const size_t length = Utf16ToUtf8(name, utf8);
  return SetStringResult(result, std::string_view(utf8.data(), length));
}

}  // namespace zvcert
