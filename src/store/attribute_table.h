// The ten subject attribute keys script may search by, with their object
// identifiers, in the order they are compared.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace zvcert {

struct AttributeKey {
  std::string_view key;
  const char* oid;
};

inline constexpr std::array<AttributeKey, 10> kAttributeTable = {{
    {"C", "2.5.4.6"},
    {"ST", "2.5.4.8"},
    {"L", "2.5.4.7"},
    {"O", "2.5.4.10"},
    {"OU", "2.5.4.11"},
    {"SN", "2.5.4.4"},
    {"CN", "2.5.4.3"},
    {"E", "1.2.840.113549.1.9.1"},
    {"G", "2.5.4.42"},
    {"T", "2.5.4.12"},
}};

// The object identifier of a key, compared whole and ignoring ASCII case.
inline std::optional<const char*> AttributeOid(std::string_view key) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  for (const AttributeKey& entry : kAttributeTable) {
    if (entry.key.size() != key.size()) continue;
    bool same = true;
    for (size_t i = 0; i < key.size() && same; ++i) same = lower(entry.key[i]) == lower(key[i]);
    if (same) return entry.oid;
  }
  return std::nullopt;
}

}  // namespace zvcert
