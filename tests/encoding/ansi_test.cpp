// ANSI code page (1252 under Wine's default locale) to and from UTF-16.
#include "encoding/ansi.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <string>
#include <vector>

namespace zvcert {
namespace {

TEST(AnsiToWide, KeepsAtMostLimitLessOneUnits) {
  ASSERT_EQ(GetACP(), 1252u);
  struct Case {
    std::string text;
    size_t limit;
    std::wstring expected;
  };
  const Case cases[] = {
      {std::string(60, 'a'), 48, std::wstring(47, L'a')},
      {"0123456789", 48, L"0123456789"},
      {"", 48, L""},
      {"abc", 1, L""},
      {"abc", 2, L"a"},
      {"caf\xE9 \x80", 48, L"caf\u00E9 \u20AC"},  // code page 1252: e-acute, euro sign
  };
  for (const Case& c : cases) {
    std::vector<wchar_t> dest(c.limit, L'#');
    const size_t count = AnsiToWide(c.text.c_str(), dest);
    EXPECT_EQ(count, c.expected.size()) << c.text;
    EXPECT_EQ(std::wstring(dest.data()), c.expected) << c.text;
  }
  std::vector<wchar_t> none;
  EXPECT_EQ(AnsiToWide("abc", none), 0u);
}

TEST(WideToAnsi, KeepsAtMost511Bytes) {
  struct Case {
    std::wstring text;
    std::string expected;
  };
  const Case cases[] = {
      {std::wstring(600, L'x'), std::string(511, 'x')},
      {std::wstring(511, L'y'), std::string(511, 'y')},
      {L"", ""},
      {L"caf\u00E9", "caf\xE9"},
      {L"\u4E2D", "?"},  // not in code page 1252
  };
  for (const Case& c : cases) {
    std::array<char, kWideToAnsiAreaSize> dest;
    dest.fill('#');
    const size_t count = WideToAnsi(c.text.c_str(), dest);
    EXPECT_EQ(count, c.expected.size());
    EXPECT_EQ(std::string(dest.data()), c.expected);
  }
}

}  // namespace
}  // namespace zvcert
