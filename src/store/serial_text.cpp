#include "store/serial_text.h"

#include <algorithm>
#include <cstdint>

namespace zvcert {

void DecimalToSerial(std::string_view text, std::span<uint8_t> value) {
  std::fill(value.begin(), value.end(), 0);
  for (const char c : text) {
    if (c < '0' || c > '9') break;
    // value = value · 10 + digit, byte by byte; the carry out of the top
    // byte is dropped, which is the wrap.
    unsigned carry = static_cast<unsigned>(c - '0');
    for (uint8_t& b : value) {
      carry += b * 10u;
      b = static_cast<uint8_t>(carry);
      carry >>= 8;
    }
  }
}

namespace {

size_t UnsignedToDecimal(std::span<const uint8_t> value, std::span<char> text) {
  std::array<uint8_t, 64> work{};
  const size_t size = std::min(value.size(), work.size());
  std::copy_n(value.begin(), size, work.begin());
  size_t n = 0;
  const auto isZero = [&] {
    return std::all_of(work.begin(), work.begin() + size, [](uint8_t b) { return b == 0; });
  };
  while (!isZero() && n + 1 < text.size()) {
    // work /= 10, most significant byte first; the remainder is the digit.
    unsigned remainder = 0;
    for (size_t i = size; i-- > 0;) {
      const unsigned part = (remainder << 8) | work[i];
      work[i] = static_cast<uint8_t>(part / 10);
      remainder = part % 10;
    }
    text[n++] = static_cast<char>('0' + remainder);
  }
  std::reverse(text.begin(), text.begin() + n);
  text[n] = '\0';
  return n;
}

}  // namespace

size_t SerialToDecimal(std::span<const uint8_t> value, std::span<char> text) {
  text[0] = '\0';
  // An 8-byte value is a signed 64-bit integer: no text when negative.
  if (value.size() == 8 && (value[7] & 0x80) != 0) return 0;
  return UnsignedToDecimal(value, text);
}

DecimalText CanonicalSerialText(const SerialValue& value) {
  DecimalText text;
  if (UnsignedToDecimal(value, text) == 0) {
    text[0] = '0';
    text[1] = '\0';
  }
  return text;
}

}  // namespace zvcert
