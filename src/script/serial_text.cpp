#include "script/serial_text.h"

#include <algorithm>
#include <cstdint>

namespace zvcert {

SerialValue DecimalToInt64(std::string_view text) {
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  SerialValue bytes;
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  return bytes;
}

DecimalText Int64ToDecimal(const SerialValue& bytes) {
  uint64_t value = 0;
  for (size_t i = bytes.size(); i-- > 0;) value = (value << 8) | bytes[i];
  DecimalText text{};
  if (value == 0 || (value >> 63) != 0) return text;
  size_t n = 0;
  for (; value != 0; value /= 10) text[n++] = static_cast<char>('0' + value % 10);
  std::reverse(text.begin(), text.begin() + n);
  return text;
}

}  // namespace zvcert
