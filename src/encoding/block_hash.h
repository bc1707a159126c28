// How SHA-1 and SHA-256 end alike: the whole 64-byte blocks, then the rest,
// 0x80, zeros and the bit length in one or two last blocks; the state's
// words, most significant byte first, are the digest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zvcert {

template <size_t Words>
std::array<uint8_t, 4 * Words> HashIn64ByteBlocks(
    std::span<const uint8_t> data, std::array<uint32_t, Words> state,
    void (*compress)(std::array<uint32_t, Words>& state, const uint8_t* block)) {
  size_t at = 0;
  for (; data.size() - at >= 64; at += 64) compress(state, data.data() + at);
  std::array<uint8_t, 128> tail{};
  const size_t rest = data.size() - at;
  for (size_t i = 0; i < rest; ++i) tail[i] = data[at + i];
  tail[rest] = 0x80;
  const size_t blocks = rest < 56 ? 1 : 2;
  const uint64_t bits = static_cast<uint64_t>(data.size()) * 8;
  for (int i = 0; i < 8; ++i) tail[64 * blocks - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
  for (size_t b = 0; b < blocks; ++b) compress(state, tail.data() + 64 * b);
  std::array<uint8_t, 4 * Words> digest;
  for (size_t i = 0; i < Words; ++i) {
    for (size_t j = 0; j < 4; ++j)
      digest[4 * i + j] = static_cast<uint8_t>(state[i] >> (24 - 8 * j));
  }
  return digest;
}

}  // namespace zvcert
