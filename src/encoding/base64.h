// Base64 in the standard alphabet with "=" padding and no line breaks,
// written into the caller's buffers in one pass.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zvcert {

// Characters that length bytes encode to.
constexpr size_t Base64Length(size_t length) { return 4 * ((length + 2) / 3); }
// The room the plug-in gives the characters of Base64Encode's n bytes, its
// terminator's place included: more than the characters need. Where it
// passes INT32_MAX the call fails; that limit is part of what pages see.
constexpr uint64_t Base64EncodeRoom(uint64_t n) { return 4 * n / 3 + 64; }
// The room the plug-in gives the bytes of n characters: CertSign's data, and
// Base64Decode's bytes with their terminator's place. Whoever describes
// CertSign's data decodes it with the same room.
constexpr uint64_t Base64DecodeRoom(uint64_t n) { return 3 * n / 4 + 64; }

// Encodes length bytes as 4 * ((length + 2) / 3) characters, without a
// terminator. Returns 0, or -1 (outLength untouched) when out is null, the
// length is negative or the characters do not fit capacity.
int Base64EncodeBuffer(const uint8_t* data, int32_t length, char* out, int32_t capacity,
                       int32_t* outLength);

// Decodes length characters (a multiple of 4, no whitespace). Padding is
// judged per group of four, so a padded group may stand anywhere. Returns 0,
// or -1 for a null out, a length not a multiple of 4 (outLength untouched),
// a character outside the alphabet, a misplaced "=" or output beyond
// capacity; then outLength counts the bytes of the groups before the failing
// one, which are written.
int Base64DecodeText(const char* text, int32_t length, uint8_t* out, int32_t capacity,
                     int32_t* outLength);

}  // namespace zvcert
