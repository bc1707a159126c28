#include "encoding/ansi.h"

#include <windows.h>

#include <cwchar>
#include <memory>
#include <new>

namespace zvcert {

size_t AnsiToWide(const char* text, std::span<wchar_t> dest) {
  if (dest.empty()) return 0;
  const size_t n = static_cast<size_t>(lstrlenA(text));
  std::unique_ptr<wchar_t[]> wide(new (std::nothrow) wchar_t[n + 1]);
  size_t count = 0;
  if (wide != nullptr) {
    wide[0] = L'\0';
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.get(), static_cast<int>(n + 1));
    wide[n] = L'\0';
    while (count + 1 < dest.size() && wide[count] != L'\0') {
      dest[count] = wide[count];
      ++count;
    }
  }
  dest[count] = L'\0';
  return count;
}

size_t WideToAnsi(const wchar_t* text, std::span<char, kWideToAnsiAreaSize> dest) {
  const size_t n = std::wcslen(text);
  const size_t size = 2 * n + 2;
  std::unique_ptr<char[]> ansi(new (std::nothrow) char[size]);
  size_t count = 0;
  if (ansi != nullptr) {
    ansi[0] = '\0';
    WideCharToMultiByte(CP_ACP, 0, text, -1, ansi.get(), static_cast<int>(size), nullptr, nullptr);
    ansi[size - 1] = '\0';
    while (count < dest.size() - 1 && ansi[count] != '\0') {
      dest[count] = ansi[count];
      ++count;
    }
  }
  dest[count] = '\0';
  return count;
}

}  // namespace zvcert
