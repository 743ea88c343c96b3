#include "tools/vornctl/device_lookup.h"

#include <algorithm>

#include "tools/vornctl/cli_args.h"
#include "tools/vornctl/driver_calls.h"
#include "tools/vornctl/port_advice.h"
#include "vorn.h"

namespace vornctl {

bool FindDevices(const vorn_host::VornLibrary &lib, std::vector<std::int32_t> &found, std::string &error) {
  found = FindAllDevices(lib);
  if (!found.empty()) return true;
  error = "no device found: " + GeneralMessage(lib);
  for (const std::string &note : PortListNotes()) error += "\n  " + note;
  return false;
}

bool ResolveDevice(const vorn_host::VornLibrary &lib, const std::vector<std::int32_t> &found, const std::string &name,
                   std::int32_t &index, std::string &error) {
  // Serial texts are often digits too: an index is written without leading
  // zeros and names a device that was found; anything else is a serial text.
  const std::optional<int> n = ParseIndex(name);
  const bool canonical = n && std::to_string(*n) == name;
  if (canonical && std::find(found.begin(), found.end(), *n) != found.end()) {
    index = *n;
    return true;
  }
  for (std::int32_t candidate : found) {
    if (lib.Initialise(candidate) != 1) continue;
    if (RunCommand(lib, candidate, VORN_CMD_SERIAL_TEXT).text == name) {
      index = candidate;
      return true;
    }
  }
  if (canonical && *n < 1000) {
    error = "there is no device " + name + " (found " + std::to_string(found.size()) +
            ", numbered from 0; see 'vornctl list')";
  } else {
    error = "no device has the serial text '" + name + "' (see 'vornctl list')";
  }
  return false;
}

bool DescribeDevice(const vorn_host::VornLibrary &lib, std::int32_t wanted, DeviceDescription &out,
                    std::string &error) {
  if (!ReadDescription(lib, wanted, out, error)) {
    error = "device " + std::to_string(wanted) + ": " + error;
    return false;
  }
  return true;
}

}  // namespace vornctl
