// What the consent window shows of the bytes a page asks to sign, and of
// names: the host renders them here, from the very bytes it then signs, and
// the window shows the result as it is. Nothing the user cannot see is left
// in it: characters that draw nothing or reorder their neighbours, and
// right-to-left letters on a line they would draw out of order, are written
// as visible ⟨U+XXXX⟩ escapes, long runs of white space as one ⟨…⟩ marker.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zvhost {

// Text whose rendering is longer is not shown: no one reads that much in a
// small window, and it must not pass for read.
inline constexpr size_t kMaxShownText = 64 * 1024;

// Why data is not shown as text.
inline constexpr std::string_view kNotText = "not text";
inline constexpr std::string_view kTooLong = "too long";

struct ShownText {
  // Well-formed UTF-8 without control characters other than TAB, LF and CR
  // (whatever its length).
  bool isText = false;
  std::string text;          // what the user reads; "" when unshown
  size_t escaped = 0;        // characters written as ⟨U+XXXX⟩
  size_t folded = 0;         // runs of blank lines or of white space written as one marker
  std::string_view unshown;  // "", kNotText or kTooLong
};

// Data to be signed, line by line: LF and CR LF end a line, more than 2
// blank lines in a row become one line ⟨N blank lines⟩, more than 16
// white-space characters in a row ⟨N spaces⟩, and the escapes above are
// applied. Not shown: bytes that are not text, and a rendering over
// kMaxShownText bytes.
ShownText ShowSignedText(std::string_view bytes);

// A name (a certificate's subject or issuer) on one line: every control
// character, line ends included, escaped too; nothing folded; a byte that is
// not UTF-8 written as ⟨0xHH⟩. Always shown.
ShownText ShowName(std::string_view bytes);

}  // namespace zvhost
