#include <windows.h>

#include <cstdlib>

#include "driver/test_devices.h"

namespace vorn_test {

namespace {
const char *RoleName(Role role) {
  switch (role) {
    case Role::kDefault: return "default";
    case Role::kSecond: return "second";
    case Role::kWrongFirmware: return "wrongfw";
    case Role::kCrc: return "crc";
  }
  return "";
}
}  // namespace

// VORN_TEST_DEVICES holds "role:SERIAL=COMn|role:SERIAL=COMn" (the harness's ports).
std::string DevicePort(Role role) {
  const char *all = std::getenv("VORN_TEST_DEVICES");
  if (!all) return {};
  const std::string list = all;
  const std::string key = std::string(RoleName(role)) + ":";
  for (std::size_t start = 0; start < list.size();) {
    std::size_t end = list.find('|', start);
    if (end == std::string::npos) end = list.size();
    const std::string entry = list.substr(start, end - start);
    if (entry.compare(0, key.size(), key) == 0) {
      const std::string port = entry.substr(key.size());
      const auto eq = port.find('=');
      if (eq == std::string::npos) return {};
      return port.substr(0, eq + 1) + "\\\\.\\" + port.substr(eq + 1);
    }
    start = end + 1;
  }
  return {};
}

void SetVornPorts(const std::string &value) { SetEnvironmentVariableA("VORN_PORTS", value.c_str()); }

bool UnplugDevice(Role) { return false; }

}  // namespace vorn_test
