#include "script/results.h"

#include <cstring>

#include "npapi/browser.h"

namespace zvcert {

void SetVoidResult(NPVariant* result) {
  std::memset(result, 0, sizeof *result);
  result->type = NPVariantType_Void;
}

void SetIntResult(NPVariant* result, int32_t value) {
  SetVoidResult(result);
  result->type = NPVariantType_Int32;
  result->value.intValue = value;
}

bool SetStringResult(NPVariant* result, std::string_view text) {
  SetVoidResult(result);
  const auto length = static_cast<uint32_t>(text.size());
  auto* memory = static_cast<char*>(NPN_MemAlloc(length + 1));
  if (memory == nullptr) return false;
  if (length != 0) std::memcpy(memory, text.data(), length);
  memory[length] = '\0';
  result->type = NPVariantType_String;
  result->value.stringValue.UTF8Characters = memory;
  result->value.stringValue.UTF8Length = length;
  return true;
}

}  // namespace zvcert
