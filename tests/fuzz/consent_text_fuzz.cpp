// What the consent window shows, under random bytes: well-formed UTF-8 with
// no invisible (Cf, Cn, default-ignorable), Zl or Zp character but an
// emoji's presentation selector, no control but TAB and LF (none in a name),
// no line mixing right-to-left characters with numbers or other letters, and
// never longer than its bound.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "encoding/utf8.h"
#include "host/consent_text.h"
#include "host/unicode_classes.h"

template <size_t N>
static bool In(const zvhost::unicode::CodeRange (&ranges)[N], char32_t cp) {
  const auto* r = std::partition_point(std::begin(ranges), std::end(ranges),
                                       [cp](const auto& range) { return range.last < cp; });
  return r != std::end(ranges) && cp >= r->first;
}

static bool RightToLeft(char32_t cp) {
  return (cp >= 0x590 && cp <= 0x8FF) || (cp >= 0xFB1D && cp <= 0xFDFF) ||
         (cp >= 0xFE70 && cp <= 0xFEFF) || (cp >= 0x10800 && cp <= 0x10FFF) ||
         (cp >= 0x1E800 && cp <= 0x1EFFF);
}

static void CheckShown(std::string_view text, bool lines) {
  char32_t previous = 0;
  bool rightToLeft = false, other = false, escape = false;
  for (size_t pos = 0, at = 0; pos < text.size(); at = pos) {
    const char32_t cp = zvcert::NextCodePoint(text, pos);
    bool hidden =
        cp == 0x2028 || cp == 0x2029 || (cp == zvcert::kReplacementCharacter && pos - at == 1) ||
        ((cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) && !(lines && (cp == '\t' || cp == '\n')));
    hidden =
        hidden || (In(zvhost::unicode::kInvisible, cp) &&
                   !((cp == 0xFE0E || cp == 0xFE0F) && In(zvhost::unicode::kPictograph, previous)));
    if (hidden) std::abort();
    // An escape starts with a letter and draws left to right as one piece;
    // the other markers start with a number.
    if (cp == 0x27E8) escape = text.substr(pos, 1) == "U";
    if (cp == 0x27E9) escape = false;
    if (cp == '\n') rightToLeft = other = false;
    rightToLeft = rightToLeft || RightToLeft(cp);
    other = other || (!escape && (In(zvhost::unicode::kNumber, cp) ||
                                  (!RightToLeft(cp) && In(zvhost::unicode::kLetter, cp))));
    if (rightToLeft && other) std::abort();
    previous = cp;
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const zvhost::ShownText shown = zvhost::ShowSignedText(input);
  if (shown.text.size() > zvhost::kMaxShownText || (!shown.unshown.empty() && !shown.text.empty()))
    std::abort();
  CheckShown(shown.text, true);
  const std::string name = zvhost::ShowName(input).text;
  if (name.size() > 12 * size) std::abort();  // ⟨U+000A⟩ for one byte at most
  CheckShown(name, false);
  return 0;
}
