#include "encoding/sha512.h"

namespace zvcert {
namespace {

using State = std::array<uint64_t, 8>;

constexpr std::array<uint64_t, 80> kRound = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc,
    0x3956c25bf348b538, 0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118,
    0xd807aa98a3030242, 0x12835b0145706fbe, 0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2,
    0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235, 0xc19bf174cf692694,
    0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5,
    0x983e5152ee66dfab, 0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4,
    0xc6e00bf33da88fc2, 0xd5a79147930aa725, 0x06ca6351e003826f, 0x142929670a0e6e70,
    0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed, 0x53380d139d95b3df,
    0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30,
    0xd192e819d6ef5218, 0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8,
    0x19a4c116b8d2d0c8, 0x1e376c085141ab53, 0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8,
    0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373, 0x682e6ff3d6b2b8a3,
    0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b,
    0xca273eceea26619c, 0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178,
    0x06f067aa72176fba, 0x0a637dc5a2c898a6, 0x113f9804bef90dae, 0x1b710b35131c471b,
    0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc, 0x431d67c49c100d4c,
    0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817};

constexpr uint64_t Rotate(uint64_t x, int n) { return (x >> n) | (x << (64 - n)); }

void Compress(State& state, const uint8_t* block) {
  std::array<uint64_t, 80> w;
  for (int i = 0; i < 16; ++i) {
    w[i] = 0;
    for (int j = 0; j < 8; ++j) w[i] = w[i] << 8 | block[8 * i + j];
  }
  for (int i = 16; i < 80; ++i) {
    const uint64_t s0 = Rotate(w[i - 15], 1) ^ Rotate(w[i - 15], 8) ^ (w[i - 15] >> 7);
    const uint64_t s1 = Rotate(w[i - 2], 19) ^ Rotate(w[i - 2], 61) ^ (w[i - 2] >> 6);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (int i = 0; i < 80; ++i) {
    const uint64_t t1 = h + (Rotate(e, 14) ^ Rotate(e, 18) ^ Rotate(e, 41)) + ((e & f) ^ (~e & g)) +
                        kRound[i] + w[i];
    const uint64_t t2 =
        (Rotate(a, 28) ^ Rotate(a, 34) ^ Rotate(a, 39)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
  }
  state[0] += a, state[1] += b, state[2] += c, state[3] += d;
  state[4] += e, state[5] += f, state[6] += g, state[7] += h;
}

// The state after the whole message, padded; a message's length in bits fits
// 64 bits here, so the upper half of the 128-bit length field stays zero.
State Digest(State state, std::span<const uint8_t> data) {
  size_t at = 0;
  for (; data.size() - at >= 128; at += 128) Compress(state, data.data() + at);
  std::array<uint8_t, 256> tail{};
  const size_t rest = data.size() - at;
  for (size_t i = 0; i < rest; ++i) tail[i] = data[at + i];
  tail[rest] = 0x80;
  const size_t blocks = rest < 112 ? 1 : 2;
  const uint64_t bits = static_cast<uint64_t>(data.size()) * 8;
  for (int i = 0; i < 8; ++i) tail[128 * blocks - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
  for (size_t b = 0; b < blocks; ++b) Compress(state, tail.data() + 128 * b);
  return state;
}

template <size_t N>
std::array<uint8_t, N> Bytes(const State& state) {
  std::array<uint8_t, N> digest;
  for (size_t i = 0; i < N; ++i)
    digest[i] = static_cast<uint8_t>(state[i / 8] >> (56 - 8 * (i % 8)));
  return digest;
}

}  // namespace

Sha384Digest Sha384(std::span<const uint8_t> data) {
  return Bytes<48>(
      Digest({0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17, 0x152fecd8f70e5939,
              0x67332667ffc00b31, 0x8eb44a8768581511, 0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4},
             data));
}

Sha512Digest Sha512(std::span<const uint8_t> data) {
  return Bytes<64>(
      Digest({0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b, 0xa54ff53a5f1d36f1,
              0x510e527fade682d1, 0x9b05688c2b3e6c1f, 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179},
             data));
}

}  // namespace zvcert
