// A stand-in SETUPAPI.DLL placed beside a test host: lists the COM-port
// devices of the script named by VORN_FAKE_SETUPAPI_SCRIPT, read when a list is made.
//   device|INSTANCE-ID|DEVICE-PATH|FRIENDLY-NAME|MANUFACTURER   (empty name: property absent)
//   unterminated                       texts fill their reported sizes exactly, without a null
//   detail-size|INDEX|BYTES            the size query for that device reports BYTES
//   detail-size-succeeds|INDEX         the size query for that device succeeds instead of refusing
//   detail-error|INDEX|CODE            the size query fails with CODE
//   list-fails                         no list can be made
// Reports: VORN_FAKE_SETUPAPI_ATTACHED / _DETACHED, _LISTS_OPEN, _ENUM_CALLS.
#include <windows.h>
// Declared here as our own, not as imports.
#define _SETUPAPI_
#include <setupapi.h>

#include <cstddef>
#include <cstring>
#include <map>

#include "fake_report.h"

namespace vorn_test {
namespace {

struct Device {
  std::wstring instanceId, path, friendlyName, manufacturer;
};

struct List {
  std::vector<Device> devices;
  bool unterminated = false;
  std::map<DWORD, DWORD> detailSize;
  std::map<DWORD, DWORD> detailError;
  std::map<DWORD, bool> detailSucceeds;
};

constexpr GUID kComPortInterface = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

List *AsList(HDEVINFO handle) { return static_cast<List *>(handle); }

const Device *DeviceOf(List *list, const SP_DEVINFO_DATA *data) {
  if (!list || !data || data->cbSize != sizeof(SP_DEVINFO_DATA) || data->DevInst == 0 ||
      data->DevInst > list->devices.size()) {
    return nullptr;
  }
  return &list->devices[data->DevInst - 1];
}

// Bytes a text takes, with or without its terminator.
DWORD TextBytes(const List &list, const std::wstring &text) {
  return static_cast<DWORD>((text.size() + (list.unterminated ? 0 : 1)) * sizeof(wchar_t));
}

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

}  // namespace
}  // namespace vorn_test

// The exports keep their plain names, outside any namespace.
using namespace vorn_test;

extern "C" {

__declspec(dllexport) HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID *guid, PCWSTR, HWND, DWORD flags) {
  if (!guid || std::memcmp(guid, &kComPortInterface, sizeof(GUID)) != 0 ||
      flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto *list = new List;
  for (const auto &f : vorn_test::ReadScript("VORN_FAKE_SETUPAPI_SCRIPT")) {
    const std::string &kind = f[0];
    auto number = [&](std::size_t i) {
      return static_cast<DWORD>(i < f.size() ? std::strtoul(f[i].c_str(), nullptr, 10) : 0);
    };
    if (kind == "device" && f.size() >= 3) {
      list->devices.push_back({vorn_test::Widen(f[1]), vorn_test::Widen(f[2]),
                               f.size() > 3 ? vorn_test::Widen(f[3]) : L"",
                               f.size() > 4 ? vorn_test::Widen(f[4]) : L""});
    } else if (kind == "unterminated") {
      list->unterminated = true;
    } else if (kind == "detail-size") {
      list->detailSize[number(1)] = number(2);
    } else if (kind == "detail-size-succeeds") {
      list->detailSucceeds[number(1)] = true;
    } else if (kind == "detail-error") {
      list->detailError[number(1)] = number(2);
    } else if (kind == "list-fails") {
      delete list;
      SetLastError(ERROR_INVALID_DATA);
      return INVALID_HANDLE_VALUE;
    }
  }
  vorn_test::AddToCounter("VORN_FAKE_SETUPAPI_LISTS_OPEN", 1);
  return list;
}

__declspec(dllexport) BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
  if (!handle || handle == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
  delete AsList(handle);
  vorn_test::AddToCounter("VORN_FAKE_SETUPAPI_LISTS_OPEN", -1);
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA, const GUID *guid,
                                                              DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
  vorn_test::AddToCounter("VORN_FAKE_SETUPAPI_ENUM_CALLS", 1);
  List *list = AsList(handle);
  if (!list || handle == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
  if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
  if (!guid || std::memcmp(guid, &kComPortInterface, sizeof(GUID)) != 0) return Fail(ERROR_INVALID_PARAMETER);
  if (index >= list->devices.size()) return Fail(ERROR_NO_MORE_ITEMS);
  data->InterfaceClassGuid = kComPortInterface;
  data->Flags = SPINT_ACTIVE;
  data->Reserved = index + 1;
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI
    SetupDiGetDeviceInterfaceDetailW(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data,
                                     PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD size, PDWORD required,
                                     PSP_DEVINFO_DATA device) {
  List *list = AsList(handle);
  if (!list || !data || data->Reserved == 0 || data->Reserved > list->devices.size()) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const DWORD index = static_cast<DWORD>(data->Reserved - 1);
  const std::wstring &path = list->devices[index].path;
  const DWORD needed = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + TextBytes(*list, path);
  if (!detail) {
    if (list->detailSucceeds.count(index)) {
      if (required) *required = needed;
      return TRUE;
    }
    if (list->detailError.count(index)) return Fail(list->detailError[index]);
    if (required) *required = list->detailSize.count(index) ? list->detailSize[index] : needed;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return Fail(ERROR_INVALID_USER_BUFFER);
  if (size < needed) {
    if (required) *required = needed;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(detail->DevicePath, path.c_str(), needed - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath));
  if (device) {
    if (device->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
    device->ClassGuid = kComPortInterface;
    device->DevInst = index + 1;
  }
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI
    SetupDiGetDeviceInstanceIdW(HDEVINFO handle, PSP_DEVINFO_DATA data, PWSTR buffer, DWORD chars, PDWORD required) {
  List *list = AsList(handle);
  const Device *device = DeviceOf(list, data);
  if (!device) return Fail(ERROR_INVALID_PARAMETER);
  const DWORD needed = TextBytes(*list, device->instanceId) / sizeof(wchar_t);
  if (required) *required = needed;
  if (!buffer || chars < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, device->instanceId.c_str(), needed * sizeof(wchar_t));
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI
    SetupDiGetDeviceRegistryPropertyW(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD property, PDWORD type, PBYTE buffer,
                                      DWORD size, PDWORD required) {
  List *list = AsList(handle);
  const Device *device = DeviceOf(list, data);
  if (!device) return Fail(ERROR_INVALID_PARAMETER);
  const std::wstring *text = property == SPDRP_FRIENDLYNAME ? &device->friendlyName
                             : property == SPDRP_MFG        ? &device->manufacturer
                                                            : nullptr;
  if (!text || text->empty()) return Fail(ERROR_INVALID_DATA);
  const DWORD needed = TextBytes(*list, *text);
  if (type) *type = REG_SZ;
  if (required) *required = needed;
  if (!buffer || size < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, text->c_str(), needed);
  return TRUE;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) vorn_test::AddToCounter("VORN_FAKE_SETUPAPI_ATTACHED", 1);
  if (reason == DLL_PROCESS_DETACH) vorn_test::AddToCounter("VORN_FAKE_SETUPAPI_DETACHED", 1);
  return TRUE;
}

}  // extern "C"
