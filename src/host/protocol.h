// The reasons a reply may carry, from protocol.def (Unavailable is the
// extension's own, never sent); its commands become the table in
// commands.cpp.
#pragma once

#include <cstdint>
#include <string_view>

namespace zvhost {

enum class Reason : uint8_t {
#define ZVCERT_REASON(name, ...) name,
#define ZVCERT_COMMAND(...)
#include "host/protocol.def"
#undef ZVCERT_COMMAND
#undef ZVCERT_REASON
};

constexpr std::string_view ReasonText(Reason reason) {
  constexpr std::string_view kTexts[] = {
#define ZVCERT_REASON(name, text, ...) text,
#define ZVCERT_COMMAND(...)
#include "host/protocol.def"
#undef ZVCERT_COMMAND
#undef ZVCERT_REASON
  };
  return kTexts[static_cast<size_t>(reason)];
}

// What the value of a command's member must be before its handler runs.
enum class ValueType : uint8_t { Any, String, Object };

}  // namespace zvhost
