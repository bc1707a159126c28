// Copies of script text into the object's fixed-size fields.
#pragma once

#include <span>
#include <string_view>

namespace zvcert {

// Zero-fills dest, then copies at most dest.size() - 1 bytes of text,
// stopping early at a zero byte. Longer text is cut without notice.
inline void CopyFixed(std::span<char> dest, std::string_view text) {
  if (dest.empty()) return;
  for (char& c : dest) c = '\0';
  const size_t limit = dest.size() - 1;
  for (size_t i = 0; i < text.size() && i < limit && text[i] != '\0'; ++i) dest[i] = text[i];
}

}  // namespace zvcert
