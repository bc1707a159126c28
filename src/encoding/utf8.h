// Reading UTF-8 text as it arrives from script, which may be cut mid-character
// or (from a misbehaving host) not UTF-8 at all.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace zvcert {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// The code point at text[pos], advancing pos past it. A byte that does not
// start a well-formed sequence (overlong, surrogate, beyond U+10FFFF, cut
// short) gives U+FFFD and advances one byte.
char32_t NextCodePoint(std::string_view text, size_t& pos);

// Writes one code point (below U+110000) as UTF-8; returns the number of
// bytes (1 to 4).
size_t EncodeUtf8(char32_t cp, std::array<char, 4>& bytes);

// The length of text without a multi-byte sequence cut off at its end, as a
// byte-count limit leaves one.
size_t WithoutIncompleteTail(std::string_view text);

}  // namespace zvcert
