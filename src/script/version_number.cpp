#include "script/version_number.h"

namespace zvcert {

int32_t VersionNumberFromText(std::string_view fileVersion) {
  constexpr int kMaxDigits = 4;
  int32_t value = 0;
  int digits = 0;
  for (const char c : fileVersion) {
    if (digits == kMaxDigits) break;
    if (c >= '0' && c <= '9') {
      value = value * 10 + (c - '0');
      ++digits;
    }
  }
  return value;
}

}  // namespace zvcert
