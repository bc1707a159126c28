#include "encoding/utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace zvcert {
namespace {

std::vector<char32_t> CodePoints(std::string_view text) {
  std::vector<char32_t> out;
  for (size_t pos = 0; pos < text.size();) out.push_back(NextCodePoint(text, pos));
  return out;
}

TEST(Utf8, DecodesWellFormedTextAndReplacesEverythingElse) {
  constexpr char32_t R = kReplacementCharacter;
  struct Case {
    const char* what;
    std::string text;
    std::vector<char32_t> expected;
  };
  const Case cases[] = {
      {"ASCII", "Az0", {'A', 'z', '0'}},
      {"two, three, four bytes", "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80", {0xE9, 0x4E2D, 0x1F600}},
      {"range edges",
       "\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF4\x8F\xBF\xBF",
       {0x80, 0x7FF, 0x800, 0xFFFF, 0x10FFFF}},
      {"overlong", "\xC0\xAF\xE0\x80\xAF", {R, R, R, R, R}},
      {"surrogate", "\xED\xA0\x80", {R, R, R}},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", {R, R, R, R}},
      {"lone continuation", "\x80x", {R, 'x'}},
      {"cut short", "\xE4\xB8", {R, R}},
      {"bad continuation",
       "\xE4"
       "ab",
       {R, 'a', 'b'}},
      {"bytes never used", "\xFE\xFF\xF5", {R, R, R}},
  };
  for (const Case& c : cases) EXPECT_EQ(CodePoints(c.text), c.expected) << c.what;
  // Every well-formed case, written back by the encoder, is its own text.
  for (const Case& c : cases) {
    if (std::find(c.expected.begin(), c.expected.end(), R) != c.expected.end()) continue;
    std::string written;
    for (const char32_t cp : c.expected) {
      std::array<char, 4> bytes;
      written.append(bytes.data(), EncodeUtf8(cp, bytes));
    }
    EXPECT_EQ(written, c.text) << c.what;
  }
}

TEST(Utf8, DropsOnlyASequenceCutAtTheEnd) {
  struct Case {
    std::string text;
    size_t expected;
  };
  const Case cases[] = {
      {"", 0},
      {"abc", 3},
      {"ab\xC3", 2},
      {"ab\xC3\xA9", 4},
      {"a\xE4\xB8", 1},
      {"a\xE4", 1},
      {"a\xE4\xB8\xAD", 4},
      {"a\xF0\x9F\x98", 1},
      {"a\xF0\x9F\x98\x80", 5},
      {"a\x80", 2},  // not a cut sequence: left for the decoder to replace
      {"a\xE4"
       "b",
       3},               // broken in the middle, not at the end
      {"a\xE0\x80", 3},  // cannot become well-formed: not a tail
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WithoutIncompleteTail(c.text), c.expected) << c.text.size() << " bytes";
  }
}

}  // namespace
}  // namespace zvcert
