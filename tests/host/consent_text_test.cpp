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
    std::string data, shown;
    size_t escaped = 0, folded = 0;
  };
  const std::string plain =
      "Pay 10 EUR\tto DE12, Café, 张三, Привет, 😀 ❤️ "
      "👍🏽, "
      "e\u0301\u0302\u0303\u0304\nשלום, مرحبا!\n";
  const std::string blank60 =
      "I agree to the terms of service.\n" + Repeat("\n", 60) + "Pay 99999 EUR";
  const std::string clause = "I also transfer 9000 EUR to account 6666.\n";
  const std::string iban =
      "Pay 10 EUR to IBAN DE44 \u05C0 5001 0517 5407 3249 31\nfrom account \u05C3 1111 9999";
  const Case cases[] = {
      {plain, plain},
      {"account \u202E12345\u202C.", "account ⟨U+202E⟩12345⟨U+202C⟩.", 2},
      {"a\u2066b\u2069c\u200Fd", "a⟨U+2066⟩b⟨U+2069⟩c⟨U+200F⟩d", 3},
      {"\uFEFFa\u200Bb\u200Dc\u00ADd", "⟨U+FEFF⟩a⟨U+200B⟩b⟨U+200D⟩c⟨U+00AD⟩d", 4},
      {"flag\U000E0041, a\u2028b\u2029c", "flag⟨U+E0041⟩, a⟨U+2028⟩b⟨U+2029⟩c", 3},
      {"Pay 10 EUR\rPay 99999 EUR", "Pay 10 EUR⟨U+000D⟩Pay 99999 EUR", 1},
      {"a\r\nb\r\r\n", "a\nb⟨U+000D⟩\n", 1},  // CR LF ends a line
      {"\uE000\uFDD0\U0010FFFF\u3164\u034F", "⟨U+E000⟩⟨U+FDD0⟩⟨U+10FFFF⟩⟨U+3164⟩⟨U+034F⟩", 5},
      {"x ⟨U+202E⟩", "x ⟨U+27E8⟩U+202E⟩", 1},
      {"a" + Repeat("\u0301", 20), "a" + Repeat("\u0301", 4) + Repeat("⟨U+0301⟩", 16), 16},
      {"\u0301a\n\u0308b", "⟨U+0301⟩a\n⟨U+0308⟩b", 2},  // marks with no base
      {"a\n\n \t\nb", "a\n\n \t\nb"},
      {blank60, "I agree to the terms of service.\n⟨60 blank lines⟩\nPay 99999 EUR", 0, 1},
      {"a\r\n  \n\t\n\u3000\n", "a\n⟨3 blank lines⟩\n", 0, 1},
      {"a" + Repeat(" ", 16) + "b", "a" + Repeat(" ", 16) + "b"},
      {"a" + Repeat(" ", 1500) + "b", "a⟨1500 spaces⟩b", 0, 1},
      // Symbols that draw blank count as white space.
      {"I agree.\n" + Repeat("\u2800\n", 40) + clause + Repeat(" \U0001D159\n", 40) + "Signed.",
       "I agree.\n⟨40 blank lines⟩\n" + clause + "⟨40 blank lines⟩\nSigned.", 0, 2},
      {"a" + Repeat(" ", 16) + "\u2800" + Repeat(" ", 16) + "b", "a⟨33 spaces⟩b", 0, 1},
      // Default-ignorable and unassigned code points, but an emoji's own
      // presentation selector.
      {"I agree to pay "
       "1\u20650\U000E0080\U000E0081\U000E0082\U000E0083\U000E0084\U000E0085\U000E0086\U000E0087 "
       "EUR.",
       "I agree to pay "
       "1⟨U+2065⟩0⟨U+E0080⟩⟨U+E0081⟩⟨U+E0082⟩⟨U+E0083⟩⟨U+E0084⟩⟨U+E0085⟩⟨U+E0086⟩⟨U+E0087⟩ EUR.",
       9},
      {"1\uFE0F0\U000E0100 \u0378\U0003FFFD", "1⟨U+FE0F⟩0⟨U+E0100⟩ ⟨U+0378⟩⟨U+3FFFD⟩", 4},
      // Right-to-left characters on a line with digits or other letters.
      {iban,
       "Pay 10 EUR to IBAN DE44 ⟨U+05C0⟩ 5001 0517 5407 3249 31\nfrom account ⟨U+05C3⟩ 1111 9999",
       2},
      {"\u0628 \u0661\u0662\nto \u05D0\u05B7, x",
       "⟨U+0628⟩ ⟨U+0661⟩⟨U+0662⟩\nto ⟨U+05D0⟩⟨U+05B7⟩, x", 5},
      {"\u05D0" + Repeat(" ", 20) + "\u05D1\n\u05D0\u200B\u05D1",
       "⟨U+05D0⟩⟨20 spaces⟩⟨U+05D1⟩\n\u05D0⟨U+200B⟩\u05D1", 3, 1},
      {Repeat("é", 3000), Repeat("é", 3000)},
      {Repeat("a", kMaxShownText), Repeat("a", kMaxShownText)},
  };
  for (const Case& c : cases) {
    const ShownText shown = ShowSignedText(c.data);
    EXPECT_TRUE(shown.isText && shown.unshown.empty()) << c.shown;
    EXPECT_EQ(shown.text, c.shown);
    EXPECT_EQ(shown.escaped, c.escaped) << c.shown;
    EXPECT_EQ(shown.folded, c.folded) << c.shown;
  }
}

TEST(ConsentText, DoesNotShowWhatIsNoTextOrTooLong) {
  const std::pair<std::string, std::string_view> cases[] = {
      {"abc\xC3(", kNotText},
      {std::string("a\0b", 3), kNotText},
      {"a\x7F", kNotText},
      {"a\xC2\x85", kNotText},
      {Repeat("a", kMaxShownText + 1), kTooLong},
      {Repeat("\u200B", 6000), kTooLong},
  };
  for (const auto& [data, unshown] : cases) {
    const ShownText shown = ShowSignedText(data);
    EXPECT_EQ(shown.isText, unshown == kTooLong) << data.substr(0, 8);
    EXPECT_EQ(shown.unshown, unshown) << data.substr(0, 8);
    EXPECT_EQ(shown.text, "");
  }
}

TEST(ConsentText, WritesANameOnOneLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"CN=Alice, O=Café", "CN=Alice, O=Café"},
      {"CN=Alice\r\nO=Bank", "CN=Alice⟨U+000D⟩⟨U+000A⟩O=Bank"},
      {"CN=\u202Ekcilc\tx", "CN=⟨U+202E⟩kcilc⟨U+0009⟩x"},
      {"CN=a" + Repeat(" ", 20) + "b\n\n\n",
       "CN=a" + Repeat(" ", 20) + "b" + Repeat("⟨U+000A⟩", 3)},
      {"CN=\xFFx\x01", "CN=⟨0xFF⟩x⟨U+0001⟩"},
      {"CN=\u05D0\u05D1 42, O=\u05D2", "CN=⟨U+05D0⟩⟨U+05D1⟩ 42, O=⟨U+05D2⟩"},
  };
  for (const auto& [name, shown] : cases) EXPECT_EQ(ShowName(name).text, shown);
}

}  // namespace
}  // namespace zvhost
