// Making the values handed back to script.
#pragma once

#include <cstdint>
#include <string_view>

#include "npapi/npapi.h"

namespace zvcert {

void SetVoidResult(NPVariant* result);
void SetIntResult(NPVariant* result, int32_t value);

// Copies text and a NUL into browser memory (NPN_MemAlloc), which the browser
// owns from then on. Returns false, leaving the result void, when the
// browser has no memory to give.
bool SetStringResult(NPVariant* result, std::string_view text);

}  // namespace zvcert
