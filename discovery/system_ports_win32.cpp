// The Windows half of what listing the system's ports needs: the Setup API, loaded
// at run time so that the driver loads where it cannot be.
#include "discovery/setup_api.h"

#include "discovery/discovery.h"

namespace OpenPlotr {

SetupApiLibrary setupApiLibrary;

namespace {

template <typename Fn>
bool Resolve(HMODULE module, Fn &out, const char *name, const char *olderName = nullptr) {
  FARPROC address = GetProcAddress(module, name);
  if (!address && olderName) address = GetProcAddress(module, olderName);
  out = reinterpret_cast<Fn>(reinterpret_cast<void *>(address));
  return out != nullptr;
}

void ForgetEntryPoints(SetupApiLibrary &api) {
  api.instanceId = nullptr;
  api.interfaceDetail = nullptr;
  api.enumInterfaces = nullptr;
  api.classDevs = nullptr;
  api.destroyList = nullptr;
  api.registryProperty = nullptr;
}

}  // namespace

bool SetupApiUsable() {
  const SetupApiLibrary &api = setupApiLibrary;
  return api.loadCount != 0 && api.module && api.enumInterfaces && api.interfaceDetail && api.instanceId;
}

void PrepareSystemPorts() {
  SetupApiLibrary &api = setupApiLibrary;
  if (api.loadCount++ != 0) return;
  HMODULE module = LoadLibraryW(L"SETUPAPI.DLL");
  if (!module) {
    api.loadCount = 0;
    return;
  }
  // Older systems name the enumeration and detail functions differently.
  const bool resolved =
      Resolve(module, api.instanceId, "SetupDiGetDeviceInstanceIdW") &&
      Resolve(module, api.interfaceDetail, "SetupDiGetDeviceInterfaceDetailW", "SetupDiGetInterfaceDeviceDetailW") &&
      Resolve(module, api.enumInterfaces, "SetupDiEnumInterfaceDevice", "SetupDiEnumDeviceInterfaces") &&
      Resolve(module, api.classDevs, "SetupDiGetClassDevsW") &&
      Resolve(module, api.destroyList, "SetupDiDestroyDeviceInfoList") &&
      Resolve(module, api.registryProperty, "SetupDiGetDeviceRegistryPropertyW");
  if (!resolved) {
    FreeLibrary(module);
    ForgetEntryPoints(api);
    api.loadCount = 0;
    return;
  }
  api.module = module;
}

void ReleaseSystemPorts() {
  SetupApiLibrary &api = setupApiLibrary;
  if (api.loadCount == 0) return;
  if (--api.loadCount != 0) return;
  ForgetEntryPoints(api);
  if (api.module) FreeLibrary(api.module);
  api.module = nullptr;
}

}  // namespace OpenPlotr
