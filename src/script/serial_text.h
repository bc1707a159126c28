// Serial numbers as script sees them: decimal text.
#pragma once

#include <array>
#include <string_view>

#include "store/serial.h"

namespace zvcert {

// Digits up to the first non-digit, wrapping modulo 2^64: "" and "-5" give
// 0, "12ab" gives 12.
SerialValue DecimalToInt64(std::string_view text);

// The value read as a signed 64-bit integer, in decimal; "" for 0 and for
// any value with its top bit set (as for no certificate at all).
using DecimalText = std::array<char, 21>;
DecimalText Int64ToDecimal(const SerialValue& value);

}  // namespace zvcert
