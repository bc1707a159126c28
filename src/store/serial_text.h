// Serial numbers as script sees them: decimal text.
#pragma once

#include <array>
#include <span>
#include <string_view>

#include "store/serial.h"

namespace zvcert {

// Digits of the largest serial of that many bytes: 20 for 8, 39 for 16, 49
// for 20 (8 bytes · log10 2 ≈ 0.30103 digits a bit).
constexpr size_t MaxSerialDigits(size_t bytes) { return 8 * bytes * 30103 / 100000 + 1; }
// Script's serial texts are cut after this many characters: 39 for 8-byte
// serials, the largest number and 19 leading zeros, the same slack for longer
// ones.
constexpr size_t SerialTextCut(size_t bytes) { return MaxSerialDigits(bytes) + 19; }
inline constexpr size_t kSerialTextCut = SerialTextCut(kSerialBytes);

// Digits up to the first non-digit, wrapping modulo 2^(8 · value.size()):
// "" and "-5" give 0, "12ab" gives 12. value is least significant first.
void DecimalToSerial(std::string_view text, std::span<uint8_t> value);

// The value in decimal into text, NUL-terminated (text holds at least
// MaxSerialDigits + 1); "" for 0. An 8-byte value reads as a signed 64-bit
// integer, so one with its top bit set gives "" too (as for no certificate);
// longer values are unsigned. Returns the number of digits.
size_t SerialToDecimal(std::span<const uint8_t> value, std::span<char> text);

template <size_t N>
std::array<uint8_t, N> DecimalToSerial(std::string_view text) {
  std::array<uint8_t, N> value;
  DecimalToSerial(text, value);
  return value;
}

template <size_t N>
std::array<char, MaxSerialDigits(N) + 1> SerialToDecimal(const std::array<uint8_t, N>& value) {
  std::array<char, MaxSerialDigits(N) + 1> text;
  SerialToDecimal(value, text);
  return text;
}

// The build's serials.
using DecimalText = std::array<char, MaxSerialDigits(kSerialBytes) + 1>;
inline SerialValue DecimalToInt64(std::string_view text) {
  return DecimalToSerial<kSerialBytes>(text);
}
inline DecimalText Int64ToDecimal(const SerialValue& value) { return SerialToDecimal(value); }

// The value as unsigned decimal, "0" for zero: the one serial text that
// every method reads back as exactly this value.
DecimalText CanonicalSerialText(const SerialValue& value);

// A serial argument as every method reads it: cut, then converted (a zero
// byte ends the digits like any other non-digit).
inline SerialValue SerialArgument(std::string_view text) {
  return DecimalToInt64(text.substr(0, kSerialTextCut));
}

}  // namespace zvcert
