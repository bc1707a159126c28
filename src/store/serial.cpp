#include "store/serial.h"

#include <algorithm>

namespace zvcert {

size_t SignificantLength(std::span<const uint8_t> serial) {
  if (serial.empty()) return 0;
  for (size_t i = serial.size() - 1; i >= 1; --i) {
    if (serial[i] != 0) return i + 1;
  }
  return 1;
}

bool SerialMatches(std::span<const uint8_t> certificateSerial, std::span<const uint8_t> requested) {
  const size_t length = SignificantLength(requested);
  if (SignificantLength(certificateSerial) != length) return false;
  return std::equal(requested.begin(), requested.begin() + length, certificateSerial.begin());
}

}  // namespace zvcert
