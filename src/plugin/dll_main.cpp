#include <windows.h>

#include "npapi/module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) zvcert::OnProcessAttach(module);
  return TRUE;
}
