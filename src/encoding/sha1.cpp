#include "encoding/sha1.h"

#include "encoding/block_hash.h"

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
  return HashIn64ByteBlocks(data, state, Compress);
}

}  // namespace zvcert
