// Module-wide values set when the library is attached.
#pragma once

#include <windows.h>

namespace zvcert {

// The module's own instance handle; the Version property reads this file's
// version resource through it.
extern HINSTANCE moduleHandle;

// What the process-attach hook does, apart from the loader's bookkeeping.
void OnProcessAttach(HINSTANCE module);

}  // namespace zvcert
