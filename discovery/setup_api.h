// The Setup API, loaded at run time (Windows only): the library is not
// imported, so that the driver loads on systems where it cannot be.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <cstdint>

namespace OpenPlotr {

struct SetupApiLibrary {
  using InstanceIdFn = BOOL(WINAPI *)(HDEVINFO, PSP_DEVINFO_DATA, PWSTR, DWORD, PDWORD);
  using InterfaceDetailFn = BOOL(WINAPI *)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_W,
                                           DWORD, PDWORD, PSP_DEVINFO_DATA);
  using EnumInterfacesFn = BOOL(WINAPI *)(HDEVINFO, PSP_DEVINFO_DATA, const GUID *, DWORD, PSP_DEVICE_INTERFACE_DATA);
  using ClassDevsFn = HDEVINFO(WINAPI *)(const GUID *, PCWSTR, HWND, DWORD);
  using DestroyListFn = BOOL(WINAPI *)(HDEVINFO);
  using RegistryPropertyFn = BOOL(WINAPI *)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD);

  // Successful loads not yet undone; 0 means unusable.
  std::int32_t loadCount = 0;
  HMODULE module = nullptr;
  InstanceIdFn instanceId = nullptr;
  InterfaceDetailFn interfaceDetail = nullptr;
  EnumInterfacesFn enumInterfaces = nullptr;
  ClassDevsFn classDevs = nullptr;
  DestroyListFn destroyList = nullptr;
  RegistryPropertyFn registryProperty = nullptr;
};

extern SetupApiLibrary setupApiLibrary;

// Loaded, with interface enumeration, interface detail and instance identifier.
bool SetupApiUsable();

}  // namespace OpenPlotr
