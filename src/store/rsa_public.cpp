#include "store/rsa_public.h"

#include <algorithm>
#include <array>

namespace zvcert {
namespace {

// Numbers as 32-bit limbs, least significant first. Montgomery multiplication
// keeps each step a schoolbook product with its reduction folded in, so a
// 4096-bit check stays in the milliseconds even under the sanitizers.
constexpr size_t kMaxLimbs = kRsaMaxModulusBytes / 4;
using Limbs = std::array<uint32_t, kMaxLimbs>;

struct Modulus {
  Limbs n{};
  size_t size = 0;       // limbs in use
  uint32_t inverse = 0;  // -n^-1 mod 2^32
};

Limbs FromBytes(std::span<const uint8_t> bytes) {
  Limbs limbs{};
  for (size_t i = 0; i < bytes.size(); ++i) {
    const size_t fromEnd = bytes.size() - 1 - i;
    limbs[fromEnd / 4] |= static_cast<uint32_t>(bytes[i]) << (8 * (fromEnd % 4));
  }
  return limbs;
}

// a >= b over the first size limbs.
bool NotBelow(const uint32_t* a, const Limbs& b, size_t size) {
  for (size_t i = size; i-- > 0;) {
    if (a[i] != b[i]) return a[i] > b[i];
  }
  return true;
}

// a -= b over the first size limbs; returns the borrow out of them.
uint32_t Subtract(uint32_t* a, const Limbs& b, size_t size) {
  uint64_t borrow = 0;
  for (size_t i = 0; i < size; ++i) {
    const uint64_t d = static_cast<uint64_t>(a[i]) - b[i] - borrow;
    a[i] = static_cast<uint32_t>(d);
    borrow = d >> 63;
  }
  return static_cast<uint32_t>(borrow);
}

// a * b / 2^(32 size) mod n, for a and b below n.
Limbs Multiply(const Limbs& a, const Limbs& b, const Modulus& m) {
  std::array<uint32_t, kMaxLimbs + 2> t{};
  const size_t s = m.size;
  for (size_t i = 0; i < s; ++i) {
    uint64_t carry = 0;
    for (size_t j = 0; j < s; ++j) {
      const uint64_t sum = t[j] + static_cast<uint64_t>(a[j]) * b[i] + carry;
      t[j] = static_cast<uint32_t>(sum);
      carry = sum >> 32;
    }
    uint64_t sum = t[s] + carry;
    t[s] = static_cast<uint32_t>(sum);
    t[s + 1] = static_cast<uint32_t>(sum >> 32);
    // Adding q * n clears the lowest limb, which the shift then drops.
    const uint32_t q = t[0] * m.inverse;
    carry = (t[0] + static_cast<uint64_t>(q) * m.n[0]) >> 32;
    for (size_t j = 1; j < s; ++j) {
      sum = t[j] + static_cast<uint64_t>(q) * m.n[j] + carry;
      t[j - 1] = static_cast<uint32_t>(sum);
      carry = sum >> 32;
    }
    sum = t[s] + carry;
    t[s - 1] = static_cast<uint32_t>(sum);
    t[s] = t[s + 1] + static_cast<uint32_t>(sum >> 32);
    t[s + 1] = 0;
  }
  // Below 2n here: one subtraction at most.
  if (t[s] != 0 || NotBelow(t.data(), m.n, s)) t[s] -= Subtract(t.data(), m.n, s);
  Limbs out{};
  std::copy_n(t.begin(), s, out.begin());
  return out;
}

// 2^(64 size) mod n, which takes a number into Montgomery form, by doubling.
Limbs MontgomerySquare(const Modulus& m) {
  std::array<uint32_t, kMaxLimbs + 1> r{};
  r[0] = 1;
  for (size_t bit = 0; bit < 64 * m.size; ++bit) {
    uint32_t carry = 0;
    for (size_t i = 0; i <= m.size; ++i) {
      const uint32_t next = r[i] >> 31;
      r[i] = r[i] << 1 | carry;
      carry = next;
    }
    if (r[m.size] != 0 || NotBelow(r.data(), m.n, m.size)) {
      r[m.size] -= Subtract(r.data(), m.n, m.size);
    }
  }
  Limbs out{};
  std::copy_n(r.begin(), m.size, out.begin());
  return out;
}

}  // namespace

bool RsaPublicOperation(std::span<const uint8_t> input, std::span<const uint8_t> modulus,
                        std::span<const uint8_t> exponent, std::span<uint8_t> out) {
  if (modulus.empty() || modulus.size() > kRsaMaxModulusBytes || modulus[0] == 0 ||
      (modulus.back() & 1) == 0 || input.size() != modulus.size() || out.size() != modulus.size() ||
      exponent.size() > modulus.size()) {
    return false;
  }
  if (!std::lexicographical_compare(input.begin(), input.end(), modulus.begin(), modulus.end())) {
    return false;
  }
  const auto top = std::find_if(exponent.begin(), exponent.end(), [](uint8_t b) { return b; });
  if (top == exponent.end()) return false;

  Modulus m;
  m.n = FromBytes(modulus);
  m.size = (modulus.size() + 3) / 4;
  uint32_t inverse = m.n[0];  // right in its lowest 3 bits; each step doubles that
  for (int i = 0; i < 4; ++i) inverse *= 2 - m.n[0] * inverse;
  m.inverse = 0 - inverse;

  const Limbs base = Multiply(FromBytes(input), MontgomerySquare(m), m);
  Limbs acc = base;
  // Square and multiply from the bit below the exponent's highest one.
  bool leading = true;
  for (auto byte = top; byte != exponent.end(); ++byte) {
    for (int bit = 7; bit >= 0; --bit) {
      const bool set = (*byte >> bit) & 1;
      if (leading) {
        leading = !set;
        continue;
      }
      acc = Multiply(acc, acc, m);
      if (set) acc = Multiply(acc, base, m);
    }
  }
  Limbs one{};
  one[0] = 1;
  const Limbs result = Multiply(acc, one, m);
  for (size_t i = 0; i < out.size(); ++i) {
    const size_t fromEnd = out.size() - 1 - i;
    out[i] = static_cast<uint8_t>(result[fromEnd / 4] >> (8 * (fromEnd % 4)));
  }
  return true;
}

}  // namespace zvcert
