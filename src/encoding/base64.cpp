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

  // Whole groups of three bytes, then the last one or two, padded.
  const int64_t whole = length / 3;
  for (int64_t i = 0; i < whole; ++i) {
    const uint8_t* in = data + 3 * i;
    char* text = out + 4 * i;
    const uint32_t bits = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
    text[0] = base64Alphabet[bits >> 18];
    text[1] = base64Alphabet[(bits >> 12) & 63];
    text[2] = base64Alphabet[(bits >> 6) & 63];
    text[3] = base64Alphabet[bits & 63];
  }
  const int64_t left = length - 3 * whole;
  if (left > 0) {
    const uint8_t* in = data + 3 * whole;
    char* text = out + 4 * whole;
    const uint8_t b0 = in[0];
    const uint8_t b1 = left > 1 ? in[1] : 0;
    text[0] = base64Alphabet[b0 >> 2];
    text[1] = base64Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
    text[2] = left > 1 ? base64Alphabet[(b1 & 15) << 2] : kPad;
    text[3] = kPad;
  }
  return 0;
}

int Base64DecodeText(const char* text, int32_t length, uint8_t* out, int32_t capacity,
                     int32_t* outLength) {
  if (out == nullptr || length % 4 != 0) return -1;
  int32_t written = 0;
  int status = 0;
  for (int32_t at = 0; at < length; at += 4) {
    const char* g = text + at;
    if (capacity - written >= 3) {
      // The common case, a whole group of alphabet characters, straight
      // through; anything else (padding, a stranger) takes the careful path.
      const uint32_t d0 = Value(g[0]), d1 = Value(g[1]), d2 = Value(g[2]), d3 = Value(g[3]);
      // Alphabet values stay below 64; the marker of any other byte does not.
      if (((d0 | d1 | d2 | d3) & 0x40) == 0) {
        const uint32_t bits = (d0 << 18) | (d1 << 12) | (d2 << 6) | d3;
        out[written] = static_cast<uint8_t>(bits >> 16);
        out[written + 1] = static_cast<uint8_t>(bits >> 8);
        out[written + 2] = static_cast<uint8_t>(bits);
        written += 3;
        continue;
      }
    }
    // Padding is judged per group: "xx==" yields one byte, "xxx=" two.
    const int yields = g[3] != kPad ? 3 : g[2] == kPad ? 1 : 2;
    if (written >= capacity || capacity - written < yields) {
      status = -1;
      break;
    }
    const uint8_t d0 = Value(g[0]);
    const uint8_t d1 = Value(g[1]);
    const uint8_t d2 = yields >= 2 ? Value(g[2]) : 0;
    const uint8_t d3 = yields == 3 ? Value(g[3]) : 0;
    // Alphabet values stay below 64; the marker of any other byte (a pad
    // where a character belongs included) does not.
    if (((d0 | d1 | d2 | d3) & 0x40) != 0) {
      status = -1;
      break;
    }
    const uint32_t bits = (uint32_t{d0} << 18) | (uint32_t{d1} << 12) | (uint32_t{d2} << 6) | d3;
    out[written] = static_cast<uint8_t>(bits >> 16);
    if (yields >= 2) out[written + 1] = static_cast<uint8_t>(bits >> 8);
    if (yields == 3) out[written + 2] = static_cast<uint8_t>(bits);
    written += yields;
  }
  *outLength = written;
  return status;
}

}  // namespace zvcert
