#include <windows.h>

#include "driver/module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH: OpenPlotr::ModuleAttach(instance); break;
    case DLL_PROCESS_DETACH:
      // A non-null reserved pointer means the process is exiting.
      OpenPlotr::ModuleDetach(reserved != nullptr);
      break;
    default: break;
  }
  return TRUE;
}
