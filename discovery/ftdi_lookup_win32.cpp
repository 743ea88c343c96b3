// The FTDI D2XX library, loaded from the system folder only: a copy planted
// on the search path is never taken.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "discovery/ftdi_library.h"
#include "discovery/system_ports.h"

namespace OpenPlotr {

namespace {

template <typename Fn>
bool Resolve(HMODULE module, Fn &out, const char *name) {
  out = reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name)));
  return out != nullptr;
}

}  // namespace

std::unique_ptr<FtdiLookup> SystemPorts::MakeFtdiLookup() {
  auto library = std::make_unique<FtdiLibrary>();
  wchar_t path[MAX_PATH] = {};
  HMODULE module = nullptr;
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_SYSTEM, nullptr, 0, path)) && PathAppendW(path, L"ftd2xx.dll")) {
    module = LoadLibraryW(path);
  }
  if (!module) {
    library->notInstalled = true;
    return library;
  }
  library->module = module;
  const bool resolved = Resolve(module, library->FT_Open, "FT_Open") &&
                        Resolve(module, library->FT_GetDeviceInfo, "FT_GetDeviceInfo") &&
                        Resolve(module, library->FT_GetComPortNumber, "FT_GetComPortNumber") &&
                        Resolve(module, library->FT_Close, "FT_Close");
  if (!resolved) {
    library->cannotLoad = true;
    FreeLibrary(module);
    library->module = nullptr;
  }
  return library;
}

void FreeFtdiModule(void *module) { FreeLibrary(static_cast<HMODULE>(module)); }

}  // namespace OpenPlotr
