// Text in the process's ANSI code page to and from UTF-16, cut to fit.
#pragma once

#include <cstddef>
#include <span>

namespace zvcert {

// Converts NUL-terminated ANSI text and keeps at most dest.size() - 1 units
// and a 0 unit; returns the units kept. A failed conversion gives "".
// Over-long text is cut at a unit, which may split a surrogate pair.
size_t AnsiToWide(const char* text, std::span<wchar_t> dest);

inline constexpr size_t kWideToAnsiAreaSize = 512;

// Converts NUL-terminated UTF-16 text and keeps at most 511 bytes and a NUL;
// returns the bytes kept. Over-long text is cut at a byte.
size_t WideToAnsi(const wchar_t* text, std::span<char, kWideToAnsiAreaSize> dest);

}  // namespace zvcert
