// Certificate serial numbers as the module handles them: 8 bytes, least
// significant first (the order the platform holds them in), matched against
// a certificate's own serial by significant length.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zvcert {

using SerialValue = std::array<uint8_t, 8>;

// Bytes up to the highest non-zero one, byte 0 never looked at: 1 for the
// value 0, 0 only for an empty serial.
size_t SignificantLength(std::span<const uint8_t> serial);

// True when both have the same significant length and equal bytes within it;
// high-order zero bytes (a DER sign byte) take no part, and a certificate
// serial with more than eight significant bytes matches nothing.
bool SerialMatches(std::span<const uint8_t> certificateSerial, const SerialValue& requested);

}  // namespace zvcert
