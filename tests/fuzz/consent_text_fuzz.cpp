// What the consent window shows, under random bytes: shown text is
// well-formed UTF-8 holding no character that draws nothing or reorders
// (Cf, Zl, Zp), no control but TAB and LF, and never more than the bound; a
// name holds no control at all.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string_view>

#include "encoding/utf8.h"
#include "host/consent_text.h"
#include "host/unicode_classes.h"

namespace {

bool IsFormat(char32_t cp) {
  return std::any_of(std::begin(zvhost::unicode::kFormat), std::end(zvhost::unicode::kFormat),
                     [cp](const auto& r) { return cp >= r.first && cp <= r.last; });
}

// Aborts unless every character of text may be shown; controls: the ones
// allowed.
void CheckShown(std::string_view text, bool tabAndLineFeed) {
  for (size_t pos = 0; pos < text.size();) {
    const size_t at = pos;
    const char32_t cp = zvcert::NextCodePoint(text, pos);
    const bool illFormed = cp == zvcert::kReplacementCharacter && pos - at == 1;
    const bool control =
        (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) && !(tabAndLineFeed && (cp == '\t' || cp == '\n'));
    if (illFormed || control || IsFormat(cp) || cp == 0x2028 || cp == 0x2029) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const zvhost::ShownText shown = zvhost::ShowSignedText(input);
  if (shown.text.size() > zvhost::kMaxShownText) std::abort();
  if (!shown.unshown.empty() && !shown.text.empty()) std::abort();
  if (shown.unshown.empty() != shown.isText && shown.unshown != zvhost::kTooLong) std::abort();
  CheckShown(shown.text, true);
  // An escape is at most 14 bytes (⟨U+10FFFF⟩) for each byte of the name.
  const zvhost::ShownText name = zvhost::ShowName(input);
  if (name.text.size() > 14 * size) std::abort();
  CheckShown(name.text, false);
  return 0;
}
