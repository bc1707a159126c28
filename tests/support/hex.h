// Byte strings written the way DER is read: "30 81 9F 30 0D ...".
#pragma once

#include <cstdint>
#include <iomanip>
#include <span>
#include <sstream>
#include <string>
#include <vector>

namespace zvcert::testing {

inline std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> bytes;
  std::istringstream in(text);
  for (std::string byte; in >> byte;)
    bytes.push_back(static_cast<uint8_t>(std::stoul(byte, nullptr, 16)));
  return bytes;
}

inline std::string ToHex(std::span<const uint8_t> bytes) {
  std::ostringstream out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    out << (i ? " " : "") << std::uppercase << std::hex << std::setw(2) << std::setfill('0')
        << static_cast<int>(bytes[i]);
  }
  return out.str();
}

}  // namespace zvcert::testing
