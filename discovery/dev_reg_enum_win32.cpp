// The Windows enumerator: the present COM-port device interfaces, through the
// Setup API loaded at start-up.
#include <cstddef>
#include <vector>

#include "discovery/bounded_text.h"
#include "discovery/dev_reg_enum.h"
#include "discovery/system_ports.h"
#include "discovery/setup_api.h"

namespace OpenPlotr {

namespace {

// GUID_DEVINTERFACE_COMPORT
constexpr GUID kComPortInterface = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
constexpr DWORD kListFlags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;

// The size the detail call fills in before the path: 6 bytes in the 32-bit layout, 8 in the 64-bit one.
constexpr DWORD kDetailFixedPart = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
constexpr DWORD kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
// Bounds on what a size query may ask for; device paths and identifiers are a few hundred characters.
constexpr DWORD kMostTextBytes = 64 * 1024;

std::u16string FromWide(const wchar_t *text, std::size_t maxChars) {
  return BoundedText(reinterpret_cast<const char16_t *>(text), maxChars);
}

class SetupApiEnum final : public DevRegEnum {
 public:
  SetupApiEnum() { OpenList(); }
  ~SetupApiEnum() override { CloseList(); }

  bool Fetch(std::int32_t index) override;

 protected:
  void CloseList() override {
    if (deviceList == INVALID_HANDLE_VALUE) return;
    // After the Setup API is gone its list went with it.
    if (SetupApiUsable() && setupApiLibrary.destroyList) setupApiLibrary.destroyList(deviceList);
    deviceList = INVALID_HANDLE_VALUE;
  }

 private:
  void OpenList();
  bool ReadInstanceId(SP_DEVINFO_DATA &device);
  bool ReadProperty(DWORD property, SP_DEVINFO_DATA &device, std::u16string &out);

  HDEVINFO deviceList = INVALID_HANDLE_VALUE;
};

void SetupApiEnum::OpenList() {
  if (deviceList != INVALID_HANDLE_VALUE || !SetupApiUsable()) return;
  HDEVINFO list = INVALID_HANDLE_VALUE;
  if (setupApiLibrary.classDevs) list = setupApiLibrary.classDevs(&kComPortInterface, nullptr, nullptr, kListFlags);
  if (list == nullptr) list = INVALID_HANDLE_VALUE;
  deviceList = list;
  if (deviceList != INVALID_HANDLE_VALUE) nextIndex = 0;
}

bool SetupApiEnum::Fetch(std::int32_t index) {
  OpenList();
  if (!SetupApiUsable() || deviceList == INVALID_HANDLE_VALUE || index < 0) return false;
  const SetupApiLibrary &api = setupApiLibrary;

  SP_DEVICE_INTERFACE_DATA interfaceData{};
  interfaceData.cbSize = sizeof interfaceData;
  if (!api.enumInterfaces(deviceList, nullptr, &kComPortInterface, static_cast<DWORD>(index), &interfaceData)) {
    return false;
  }

  // Only a refusal for want of a buffer, with room for at least the fixed part, says how much to allocate.
  DWORD required = 0;
  SetLastError(ERROR_SUCCESS);
  const BOOL sized = api.interfaceDetail(deviceList, &interfaceData, nullptr, 0, &required, nullptr);
  if (sized || GetLastError() != ERROR_INSUFFICIENT_BUFFER || required < kDetailFixedPart ||
      required > kMostTextBytes) {
    return false;
  }
  // Aligned for the record, and one spare character of zeros after what the call may fill.
  std::vector<std::uint64_t> storage((required + sizeof(wchar_t)) / sizeof(std::uint64_t) + 1, 0);
  auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W *>(storage.data());
  detail->cbSize = kDetailFixedPart;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  if (!api.interfaceDetail(deviceList, &interfaceData, detail, required, nullptr, &device)) return false;
  devicePath = FromWide(detail->DevicePath, (required - kPathOffset) / sizeof(wchar_t));

  const bool haveInstanceId = ReadInstanceId(device);
  ReadProperty(SPDRP_MFG, device, manufacturer);
  ReadProperty(SPDRP_FRIENDLYNAME, device, friendlyName);
  return haveInstanceId;
}

bool SetupApiEnum::ReadInstanceId(SP_DEVINFO_DATA &device) {
  DWORD chars = 0;
  setupApiLibrary.instanceId(deviceList, &device, nullptr, 0, &chars);
  if (chars == 0 || chars > kMostTextBytes / sizeof(wchar_t)) return false;
  std::vector<wchar_t> buffer(chars + 1, L'\0');
  if (!setupApiLibrary.instanceId(deviceList, &device, buffer.data(), chars, nullptr)) return false;
  instanceId = FromWide(buffer.data(), chars);
  return true;
}

bool SetupApiEnum::ReadProperty(DWORD property, SP_DEVINFO_DATA &device, std::u16string &out) {
  const auto read = setupApiLibrary.registryProperty;
  if (!read) return false;
  DWORD bytes = 0;
  SetLastError(ERROR_SUCCESS);
  if (read(deviceList, &device, property, nullptr, nullptr, 0, &bytes)) return true;
  switch (GetLastError()) {
    case ERROR_INSUFFICIENT_BUFFER: break;
    case ERROR_INVALID_DATA:  // the device does not have this property
      return true;
    default: return false;
  }
  if (bytes == 0 || bytes > kMostTextBytes) return false;
  std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 2, L'\0');
  DWORD got = 0;
  if (!read(deviceList, &device, property, nullptr, reinterpret_cast<PBYTE>(buffer.data()), bytes, &got)) return false;
  out = FromWide(buffer.data(), (got < bytes ? got : bytes) / sizeof(wchar_t));
  return true;
}

}  // namespace

std::unique_ptr<DevRegEnum> SystemPorts::MakeEnumerator() { return std::make_unique<SetupApiEnum>(); }

}  // namespace OpenPlotr
