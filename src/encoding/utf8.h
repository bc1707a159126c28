// Reading UTF-8 text as it arrives from script, which may be cut mid-character
// or (from a misbehaving host) not UTF-8 at all.
#pragma once

#include <cstddef>
#include <string_view>

namespace zvcert {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// The code point at text[pos], advancing pos past it. A byte that does not
// start a well-formed sequence (overlong, surrogate, beyond U+10FFFF, cut
// short) gives U+FFFD and advances one byte.
char32_t NextCodePoint(std::string_view text, size_t& pos);

// The length of text without a multi-byte sequence cut off at its end, as a
// byte-count limit leaves one.
size_t WithoutIncompleteTail(std::string_view text);

}  // namespace zvcert
