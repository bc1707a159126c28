#include "encoding/utf8.h"

#include <cstdint>

namespace zvcert {
namespace {

// The sequence length a lead byte announces, 0 for a byte that cannot lead.
size_t SequenceLength(uint8_t lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

bool IsContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// The allowed range of the second byte, which rules out overlong forms,
// surrogates and code points beyond U+10FFFF.
bool SecondByteAllowed(uint8_t lead, uint8_t second) {
  switch (lead) {
    case 0xE0:
      return second >= 0xA0 && second <= 0xBF;
    case 0xED:
      return second >= 0x80 && second <= 0x9F;
    case 0xF0:
      return second >= 0x90 && second <= 0xBF;
    case 0xF4:
      return second >= 0x80 && second <= 0x8F;
    default:
      return IsContinuation(second);
  }
}

// How many bytes of a sequence starting at pos are well-formed so far.
size_t WellFormedPrefix(std::string_view text, size_t pos, size_t length) {
  size_t n = 1;
  while (n < length && pos + n < text.size()) {
    const auto b = static_cast<uint8_t>(text[pos + n]);
    const bool ok =
        n == 1 ? SecondByteAllowed(static_cast<uint8_t>(text[pos]), b) : IsContinuation(b);
    if (!ok) break;
    ++n;
  }
  return n;
}

}  // namespace

char32_t NextCodePoint(std::string_view text, size_t& pos) {
  const auto lead = static_cast<uint8_t>(text[pos]);
  const size_t length = SequenceLength(lead);
  if (length == 1) {
    ++pos;
    return lead;
  }
  if (length == 0 || WellFormedPrefix(text, pos, length) != length) {
    ++pos;
    return kReplacementCharacter;
  }
  char32_t cp = lead & (0xFF >> (length + 1));
  for (size_t i = 1; i < length; ++i) cp = (cp << 6) | (static_cast<uint8_t>(text[pos + i]) & 0x3F);
  pos += length;
  return cp;
}

size_t WithoutIncompleteTail(std::string_view text) {
  // A cut sequence starts at most three bytes before the end.
  for (size_t back = 1; back <= 3 && back <= text.size(); ++back) {
    const size_t start = text.size() - back;
    const size_t length = SequenceLength(static_cast<uint8_t>(text[start]));
    if (length == 1) return text.size();
    if (length == 0) continue;  // a continuation byte: look further back
    const bool cutShort = length > back && WellFormedPrefix(text, start, length) == back;
    return cutShort ? start : text.size();
  }
  return text.size();
}

size_t EncodeUtf8(char32_t cp, std::array<char, 4>& bytes) {
  if (cp < 0x80) {
    bytes[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    bytes[0] = static_cast<char>(0xC0 | (cp >> 6));
    bytes[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    bytes[0] = static_cast<char>(0xE0 | (cp >> 12));
    bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  bytes[0] = static_cast<char>(0xF0 | (cp >> 18));
  bytes[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  bytes[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  bytes[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

}  // namespace zvcert
