// The platform delivers moduli, signatures and serial numbers least
// significant byte first; DER and script output want them the other way.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

namespace zvcert {

inline void ReverseBytes(std::span<uint8_t> bytes) { std::reverse(bytes.begin(), bytes.end()); }

}  // namespace zvcert
