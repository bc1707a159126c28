// The Version property's number: the first four decimal digits of a
// FileVersion text such as "1, 0, 2, 2", read as one integer (1022).
#pragma once

#include <cstdint>
#include <string_view>

namespace zvcert {

// Separators (comma, blank, dot, NUL) and bytes of 0x80 and above are skipped;
// the walk stops after four digits, so the result is 0 to 9999.
int32_t VersionNumberFromText(std::string_view fileVersion);

}  // namespace zvcert
