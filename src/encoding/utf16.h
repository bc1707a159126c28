// UTF-16 text as the script boundary needs it: cut to a number of units
// without splitting a surrogate pair, and turned into UTF-8.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace zvcert {

// How many leading units of text to keep so that at most maxUnits are kept and
// a surrogate pair is never cut in two.
size_t CutUtf16(std::u16string_view text, size_t maxUnits);

// The most UTF-8 bytes one UTF-16 unit can turn into (a lone surrogate
// becomes U+FFFD, three bytes; a pair gives four bytes for two units).
inline constexpr size_t kMaxUtf8BytesPerUtf16Unit = 3;

// Writes text as UTF-8 into out, without a terminator, and returns the number
// of bytes written. Unpaired surrogates become U+FFFD, as the platform's own
// conversion does. Returns 0 and writes nothing when out is too small; size
// out as text.size() * kMaxUtf8BytesPerUtf16Unit to be sure it fits.
size_t Utf16ToUtf8(std::u16string_view text, std::span<char> out);

}  // namespace zvcert
