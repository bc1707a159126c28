#include "encoding/base64.h"

#include <array>
#include <cstddef>

namespace zvcert {
namespace {

constexpr std::array<char, 64> base64Alphabet = {
    'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P',
    'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', 'a', 'b', 'c', 'd', 'e', 'f',
    'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v',
    'w', 'x', 'y', 'z', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', '+', '/'};

constexpr uint8_t kNotBase64 = 127;
constexpr char kPad = '=';

constexpr std::array<uint8_t, 256> MakeDecodeTable() {
  std::array<uint8_t, 256> table{};
  for (auto& entry : table) entry = kNotBase64;
  for (std::size_t i = 0; i < base64Alphabet.size(); ++i) {
    table[static_cast<uint8_t>(base64Alphabet[i])] = static_cast<uint8_t>(i);
  }
  return table;
}

constexpr std::array<uint8_t, 256> base64DecodeTable = MakeDecodeTable();
static_assert(base64DecodeTable['A'] == 0 && base64DecodeTable['/'] == 63);
static_assert(base64DecodeTable['='] == kNotBase64 && base64DecodeTable[0x80] == kNotBase64);

uint8_t Value(char c) { return base64DecodeTable[static_cast<uint8_t>(c)]; }

}  // namespace

int Base64EncodeBuffer(const uint8_t* data, int32_t length, char* out, int32_t capacity,
                       int32_t* outLength) {
  if (out == nullptr || length < 0) return -1;
  const int64_t groups = (static_cast<int64_t>(length) + 2) / 3;
  const int64_t needed = 4 * groups;
  if (capacity < needed) return -1;
  *outLength = static_cast<int32_t>(needed);

  for (int64_t i = 0; i < groups; ++i) {
    const uint8_t* in = data + 3 * i;
    char* text = out + 4 * i;
    const int64_t left = length - 3 * i;  // bytes from this group on
    const uint8_t b0 = in[0];
    const uint8_t b1 = left > 1 ? in[1] : 0;
    const uint8_t b2 = left > 2 ? in[2] : 0;
    text[0] = base64Alphabet[b0 >> 2];
    text[1] = base64Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
    text[2] = left > 1 ? base64Alphabet[((b1 & 15) << 2) | (b2 >> 6)] : kPad;
    text[3] = left > 2 ? base64Alphabet[b2 & 63] : kPad;
  }
  return 0;
}

int Base64DecodeText(const char* text, int32_t length, uint8_t* out, int32_t capacity,
                     int32_t* outLength) {
  if (out == nullptr || length % 4 != 0) return -1;
  *outLength = 0;
  for (int32_t at = 0; at < length; at += 4) {
    const char* g = text + at;
    const bool pad2 = g[2] == kPad;
    const bool pad3 = g[3] == kPad;
    const int yields = pad2 && pad3 ? 1 : pad3 ? 2 : 3;
    if (*outLength >= capacity || capacity - *outLength < yields) return -1;

    const uint8_t d0 = Value(g[0]);
    const uint8_t d1 = Value(g[1]);
    const uint8_t d2 = yields >= 2 ? Value(g[2]) : 0;
    const uint8_t d3 = yields == 3 ? Value(g[3]) : 0;
    if (d0 == kNotBase64 || d1 == kNotBase64 || d2 == kNotBase64 || d3 == kNotBase64) return -1;

    uint8_t* bytes = out + *outLength;
    bytes[0] = static_cast<uint8_t>((d0 << 2) | (d1 >> 4));
    if (yields >= 2) bytes[1] = static_cast<uint8_t>((d1 << 4) | (d2 >> 2));
    if (yields == 3) bytes[2] = static_cast<uint8_t>((d2 << 6) | d3);
    *outLength += yields;
  }
  return 0;
}

}  // namespace zvcert
