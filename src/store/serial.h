// Certificate serial numbers as the module handles them: kSerialBytes bytes
// (8 unless the build says otherwise), least significant first (the order the
// platform holds them in), matched against a certificate's own serial by
// significant length.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "store/build_profile.h"

namespace zvcert {

using SerialValue = std::array<uint8_t, kSerialBytes>;

// Bytes up to the highest non-zero one, byte 0 never looked at: 1 for the
// value 0, 0 only for an empty serial.
size_t SignificantLength(std::span<const uint8_t> serial);

// True when both have the same significant length and equal bytes within it;
// high-order zero bytes (a DER sign byte) take no part, and a certificate
// serial with more significant bytes than requested can hold matches nothing.
bool SerialMatches(std::span<const uint8_t> certificateSerial, std::span<const uint8_t> requested);

}  // namespace zvcert
