#include "host/consent_text.h"

#include <gtest/gtest.h>

#include <string>

namespace zvhost {
namespace {

std::string Repeat(std::string_view part, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += part;
  return out;
}

TEST(ConsentText, ShowsWhatIsSignedWithNothingHiddenOrReordered) {
  struct Case {
    const char* what;
    std::string data;
    std::string shown;
    size_t escaped = 0;
    size_t folded = 0;
  };
  const std::string accents = "e\u0301\u0302\u0303\u0304";  // four on one letter
  const Case cases[] = {
      {"ASCII, tabs and line ends", "Pay 10 EUR\tto DE12\nThanks.\n",
       "Pay 10 EUR\tto DE12\nThanks.\n"},
      {"accented Latin, CJK, Cyrillic", "Café déjà vu, 张三, Привет", "Café déjà vu, 张三, Привет"},
      {"Hebrew and Arabic letters", "שלום עליכם, مرحبا", "שלום עליכם, مرحبا"},
      {"emoji with a variation selector and a skin tone", "😀 ❤️ 👍🏽",
       "😀 ❤️ 👍🏽"},
      {"an ordinary accent and a few stacked", "re\u0301sume\u0301 " + accents,
       "re\u0301sume\u0301 " + accents},
      {"right-to-left override", "account \u202E12345\u202C.", "account ⟨U+202E⟩12345⟨U+202C⟩.", 2},
      {"IBAN reversed", "IBAN DE\u202E0987654321\u202C", "IBAN DE⟨U+202E⟩0987654321⟨U+202C⟩", 2},
      {"isolates", "a\u2066b\u2069c\u200Fd", "a⟨U+2066⟩b⟨U+2069⟩c⟨U+200F⟩d", 3},
      {"zero width and byte order mark", "\uFEFFa\u200Bb\u200Dc\u00ADd",
       "⟨U+FEFF⟩a⟨U+200B⟩b⟨U+200D⟩c⟨U+00AD⟩d", 4},
      {"a tag character", "flag\U000E0041", "flag⟨U+E0041⟩", 1},
      {"line and paragraph separators", "a\u2028b\u2029c", "a⟨U+2028⟩b⟨U+2029⟩c", 2},
      {"a lone CR", "Pay 10 EUR\rPay 99999 EUR", "Pay 10 EUR⟨U+000D⟩Pay 99999 EUR", 1},
      {"CR LF ends a line, a CR before it does not", "a\r\nb\r\r\n", "a\nb⟨U+000D⟩\n", 1},
      {"private use, noncharacters, fillers", "\uE000\uFDD0\U0010FFFF\u3164\u034F",
       "⟨U+E000⟩⟨U+FDD0⟩⟨U+10FFFF⟩⟨U+3164⟩⟨U+034F⟩", 5},
      {"a literal bracket", "x ⟨U+202E⟩", "x ⟨U+27E8⟩U+202E⟩", 1},
      {"20 marks on one letter", "a" + Repeat("\u0301", 20),
       "a" + Repeat("\u0301", 4) + Repeat("⟨U+0301⟩", 16), 16},
      {"marks with no base", "\u0301a\n\u0308b", "⟨U+0301⟩a\n⟨U+0308⟩b", 2},
      {"two blank lines are kept", "a\n\n \t\nb", "a\n\n \t\nb"},
      {"60 blank lines", "I agree to the terms of service.\n" + Repeat("\n", 60) + "Pay 99999 EUR",
       "I agree to the terms of service.\n⟨60 blank lines⟩\nPay 99999 EUR", 0, 1},
      {"blank lines of white space, at the end", "a\r\n  \n\t\n\u3000\n", "a\n⟨3 blank lines⟩\n", 0,
       1},
      {"16 spaces are kept", "a" + Repeat(" ", 16) + "b", "a" + Repeat(" ", 16) + "b"},
      {"1500 spaces", "a" + Repeat(" ", 1500) + "b", "a⟨1500 spaces⟩b", 0, 1},
      {"text beyond 4 KiB, whole", Repeat("é", 3000), Repeat("é", 3000)},
      {"64 KiB exactly", Repeat("a", kMaxShownText), Repeat("a", kMaxShownText)},
  };
  for (const Case& c : cases) {
    const ShownText shown = ShowSignedText(c.data);
    EXPECT_TRUE(shown.isText) << c.what;
    EXPECT_EQ(shown.unshown, "") << c.what;
    EXPECT_EQ(shown.text, c.shown) << c.what;
    EXPECT_EQ(shown.escaped, c.escaped) << c.what;
    EXPECT_EQ(shown.folded, c.folded) << c.what;
  }
}

TEST(ConsentText, DoesNotShowWhatIsNoTextOrTooLong) {
  struct Case {
    const char* what;
    std::string data;
    bool isText;
    std::string_view unshown;
  };
  const Case cases[] = {
      {"invalid UTF-8", "abc\xC3(", false, kNotText},
      {"a C0 control", std::string("a\0b", 3), false, kNotText},
      {"DEL", "a\x7F", false, kNotText},
      {"a C1 control", "a\xC2\x85", false, kNotText},
      {"rendered over 64 KiB", Repeat("a", kMaxShownText + 1), true, kTooLong},
      {"escapes that grow it over 64 KiB", Repeat("\u200B", 6000), true, kTooLong},
  };
  for (const Case& c : cases) {
    const ShownText shown = ShowSignedText(c.data);
    EXPECT_EQ(shown.isText, c.isText) << c.what;
    EXPECT_EQ(shown.unshown, c.unshown) << c.what;
    EXPECT_EQ(shown.text, "") << c.what;
  }
}

TEST(ConsentText, WritesANameOnOneLine) {
  struct Case {
    std::string name;
    std::string shown;
  };
  const Case cases[] = {
      {"CN=Alice, O=Café", "CN=Alice, O=Café"},
      {"CN=Alice\r\nO=Bank", "CN=Alice⟨U+000D⟩⟨U+000A⟩O=Bank"},
      {"CN=\u202Ekcilc\tx", "CN=⟨U+202E⟩kcilc⟨U+0009⟩x"},
      {"CN=a" + Repeat(" ", 20) + "b\n\n\n\n",
       "CN=a" + Repeat(" ", 20) + "b" + Repeat("⟨U+000A⟩", 4)},
      {"CN=\xFFx\x01", "CN=⟨0xFF⟩x⟨U+0001⟩"},
  };
  for (const Case& c : cases) EXPECT_EQ(ShowName(c.name).text, c.shown) << c.name;
}

}  // namespace
}  // namespace zvhost
