// What the consent window shows, under random bytes: well-formed UTF-8 with
// no Cf, Zl or Zp character, no control but TAB and LF (none in a name), and
// never longer than its bound.
#include <cstdint>
#include <cstdlib>

#include "encoding/utf8.h"
#include "host/consent_text.h"
#include "host/unicode_classes.h"

static void CheckShown(std::string_view text, bool lines) {
  for (size_t pos = 0, at = 0; pos < text.size(); at = pos) {
    const char32_t cp = zvcert::NextCodePoint(text, pos);
    bool hidden =
        cp == 0x2028 || cp == 0x2029 || (cp == zvcert::kReplacementCharacter && pos - at == 1) ||
        ((cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) && !(lines && (cp == '\t' || cp == '\n')));
    for (const auto& r : zvhost::unicode::kFormat)
      hidden = hidden || (cp >= r.first && cp <= r.last);
    if (hidden) std::abort();
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
