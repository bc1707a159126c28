#include "encoding/sha1.h"

namespace zvcert {
namespace {

constexpr uint32_t Rotate(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void Compress(std::array<uint32_t, 5>& state, const uint8_t* block) {
  std::array<uint32_t, 80> w;
  for (int i = 0; i < 16; ++i) {
    w[i] = static_cast<uint32_t>(block[4 * i]) << 24 |
           static_cast<uint32_t>(block[4 * i + 1]) << 16 |
           static_cast<uint32_t>(block[4 * i + 2]) << 8 | block[4 * i + 3];
  }
  for (int i = 16; i < 80; ++i) w[i] = Rotate(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d), k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d, k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d, k = 0xCA62C1D6;
    }
    const uint32_t t = Rotate(a, 5) + f + e + k + w[i];
    e = d, d = c, c = Rotate(b, 30), b = a, a = t;
  }
  state[0] += a, state[1] += b, state[2] += c, state[3] += d, state[4] += e;
}

}  // namespace

Sha1Digest Sha1(std::span<const uint8_t> data) {
  std::array<uint32_t, 5> state = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  size_t at = 0;
  for (; data.size() - at >= 64; at += 64) Compress(state, data.data() + at);
  // The rest, 0x80, zeros and the bit length in one or two last blocks.
  std::array<uint8_t, 128> tail{};
  const size_t rest = data.size() - at;
  for (size_t i = 0; i < rest; ++i) tail[i] = data[at + i];
  tail[rest] = 0x80;
  const size_t blocks = rest < 56 ? 1 : 2;
  const uint64_t bits = static_cast<uint64_t>(data.size()) * 8;
  for (int i = 0; i < 8; ++i) tail[64 * blocks - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
  for (size_t b = 0; b < blocks; ++b) Compress(state, tail.data() + 64 * b);
  Sha1Digest digest;
  for (int i = 0; i < 5; ++i) {
    for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<uint8_t>(state[i] >> (24 - 8 * j));
  }
  return digest;
}

}  // namespace zvcert
