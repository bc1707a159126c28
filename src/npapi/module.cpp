#include "npapi/module.h"

#include <cstring>

#include "npapi/browser.h"

namespace zvcert {

HINSTANCE moduleHandle = nullptr;

void OnProcessAttach(HINSTANCE module) {
  // The module starts no threads and keeps no per-thread state.
  DisableThreadLibraryCalls(module);
  moduleHandle = module;
  std::memset(&browserFuncs, 0, sizeof browserFuncs);
}

}  // namespace zvcert
