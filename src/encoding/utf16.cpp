#include "encoding/utf16.h"

#include <array>
#include <cstdint>

#include "encoding/utf8.h"

namespace zvcert {
namespace {

constexpr bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

size_t CutUtf16(std::u16string_view text, size_t maxUnits) {
  if (text.size() <= maxUnits) return text.size();
  size_t keep = maxUnits;
  if (keep > 0 && IsHighSurrogate(text[keep - 1]) && IsLowSurrogate(text[keep])) --keep;
  return keep;
}

size_t Utf16ToUtf8(std::u16string_view text, std::span<char> out) {
  size_t written = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      cp = 0x10000 + ((static_cast<char32_t>(text[i]) - 0xD800) << 10) +
           (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
      cp = kReplacementCharacter;
    }
    std::array<char, 4> bytes{};
    const size_t n = EncodeUtf8(cp, bytes);
    if (out.size() - written < n) return 0;
    for (size_t k = 0; k < n; ++k) out[written++] = bytes[k];
  }
  return written;
}

}  // namespace zvcert
