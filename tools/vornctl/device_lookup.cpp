#include "tools/vornctl/device_lookup.h"

#include <algorithm>

#include "tools/vornctl/driver_calls.h"

namespace vornctl {

bool DescribeDevice(const vorn_host::VornLibrary &lib, std::int32_t wanted, DeviceDescription &out,
                    std::string &error) {
  const std::vector<std::int32_t> found = FindAllDevices(lib);
  if (found.empty()) {
    error = "no device found: " + GeneralMessage(lib);
    return false;
  }
  if (std::find(found.begin(), found.end(), wanted) == found.end()) {
    error = "there is no device " + std::to_string(wanted) + " (found " + std::to_string(found.size()) +
            ", numbered from 0; see 'vornctl list')";
    return false;
  }
  if (!ReadDescription(lib, wanted, out, error)) {
    error = "device " + std::to_string(wanted) + ": " + error;
    return false;
  }
  return true;
}

}  // namespace vornctl
