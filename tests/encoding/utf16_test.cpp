#include "encoding/utf16.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace zvcert {
namespace {

std::string ToUtf8(std::u16string_view text) {
  std::string out(text.size() * kMaxUtf8BytesPerUtf16Unit, '\0');
  out.resize(Utf16ToUtf8(text, out));
  return out;
}

TEST(Utf16ToUtf8, EncodesEveryRangeAndReplacesLoneSurrogates) {
  struct Case {
    std::u16string text;
    std::string expected;
  };
  const Case cases[] = {
      {u"", ""},
      {u"WORKSTATION-7", "WORKSTATION-7"},
      {u"Z\u00FCrich", "Z\xC3\xBCrich"},                              // two-byte form
      {u"\u041F\u041A-\u4E2D", "\xD0\x9F\xD0\x9A-\xE4\xB8\xAD"},      // Cyrillic, CJK
      {u"\U0001F600", "\xF0\x9F\x98\x80"},                            // surrogate pair, four bytes
      {u"\u07FF\u0800\uFFFF", "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},    // range edges
      {std::u16string(1, char16_t(0xD83D)) + u"x", "\xEF\xBF\xBDx"},  // lone high
      {std::u16string(1, char16_t(0xDE00)), "\xEF\xBF\xBD"},          // lone low
      {std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {std::u16string(1, u'\0'), std::string(1, '\0')},
  };
  for (const Case& c : cases) EXPECT_EQ(ToUtf8(c.text), c.expected);
}

TEST(Utf16ToUtf8, WritesNothingWhenTheAreaIsTooSmall) {
  std::array<char, 3> out{'a', 'b', 'c'};
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600", out), 0u);
  EXPECT_EQ(Utf16ToUtf8(u"abcd", out), 0u);
  EXPECT_EQ(Utf16ToUtf8(u"\u4E2D", out), 3u);
}

TEST(CutUtf16, KeepsAtMostTheLimitWithoutSplittingAPair) {
  const std::u16string pair = u"\U0001F600";
  struct Case {
    std::u16string text;
    size_t maxUnits;
    size_t expected;
  };
  const Case cases[] = {
      {u"", 79, 0},
      {u"short", 79, 5},
      {std::u16string(100, u'A'), 79, 79},
      {std::u16string(79, u'A'), 79, 79},
      {std::u16string(78, u'A') + pair, 79, 78},         // pair would straddle the cut
      {std::u16string(77, u'A') + pair + u"B", 79, 79},  // pair fits whole
      {std::u16string(78, u'A') + pair, 80, 80},
      // A lone high surrogate at the cut is not a pair: it is kept.
      {std::u16string(78, u'A') + char16_t(0xD83D) + u"B", 79, 79},
      {pair, 1, 0},
      {u"abc", 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CutUtf16(c.text, c.maxUnits), c.expected)
        << "length " << c.text.size() << ", limit " << c.maxUnits;
  }
}

}  // namespace
}  // namespace zvcert
