#include "tools/vornctl/device_lookup.h"

#include <algorithm>

#include "tools/vornctl/cli_args.h"
#include "tools/vornctl/commands.h"
#include "tools/vornctl/driver_calls.h"
#include "tools/vornctl/port_advice.h"
#include "tools/vornctl/sim_launcher.h"
#include "vorn.h"

namespace vornctl {

bool FindDevices(const vorn_host::VornLibrary &lib, std::vector<std::int32_t> &found, std::string &error) {
  found = FindAllDevices(lib);
  if (!found.empty()) return true;
  error = "no device found; " + DriverSays(GeneralMessage(lib));
  for (const std::string &note : NothingFoundNotes(FindSimulator("vornctl"))) error += "\n  " + note;
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
  // The serial number the port was found by needs no question to the device.
  for (std::int32_t candidate : found) {
    if (LocateDevice(candidate).serial == name) {
      index = candidate;
      return true;
    }
  }
  for (std::int32_t candidate : found) {
    std::string ignored;
    if (!InitialiseDevice(lib, candidate, ignored)) continue;
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

int ChooseDevices(const vorn_host::VornLibrary &lib, bool all, const std::vector<std::string> &names,
                  std::vector<std::int32_t> &chosen, std::string &error) {
  std::vector<std::int32_t> found;
  if (!FindDevices(lib, found, error)) return kExitFailure;
  chosen.clear();
  if (all) {
    chosen = found;
    return 0;
  }
  for (const std::string &name : names) {
    std::int32_t index = -1;
    if (!ResolveDevice(lib, found, name, index, error)) return kExitFailure;
    if (std::find(chosen.begin(), chosen.end(), index) != chosen.end()) {
      error = "device " + name + " is named twice";
      return kExitUsage;
    }
    chosen.push_back(index);
  }
  return 0;
}

std::vector<SharedId> SharedUniqueIds(const std::vector<std::pair<std::int32_t, std::int32_t>> &indexAndId) {
  std::vector<SharedId> all;
  for (const auto &[index, id] : indexAndId) {
    auto same = std::find_if(all.begin(), all.end(), [id = id](const SharedId &s) { return s.id == id; });
    if (same == all.end()) {
      all.push_back({id, {index}});
    } else {
      same->devices.push_back(index);
    }
  }
  std::vector<SharedId> shared;
  for (SharedId &s : all) {
    if (s.devices.size() > 1) shared.push_back(std::move(s));
  }
  return shared;
}

std::vector<SharedId> SharedUniqueIds(const vorn_host::VornLibrary &lib, const std::vector<std::int32_t> &found) {
  std::vector<std::pair<std::int32_t, std::int32_t>> ids;
  for (std::int32_t index : found) {
    std::int32_t id = 0;
    if (lib.GetUniqueID(index, &id) == 1) ids.emplace_back(index, id);
  }
  return SharedUniqueIds(ids);
}

std::string SharedIdWarning(const SharedId &shared) {
  std::string devices;
  for (std::size_t i = 0; i < shared.devices.size(); ++i) {
    if (i > 0) devices += i + 1 == shared.devices.size() ? " and " : ", ";
    devices += std::to_string(shared.devices[i]);
  }
  return "warning: devices " + devices + " share the unique id " + UniqueIdText(shared.id) +
         " (the driver makes it from part of the serial number), so a host that tells devices apart by it mixes "
         "them up; name them by serial text, which is what vornctl writes into each recording";
}

std::string SerialTextOf(const std::string &serialNumber) {
  // A whole instance identifier carries the serial number between its last
  // plus sign and the backslash after it.
  const std::size_t plus = serialNumber.rfind('+');
  std::string key = plus == std::string::npos ? serialNumber : serialNumber.substr(plus + 1);
  key = key.substr(0, key.find('\\'));
  if (key.rfind("VSC", 0) != 0 && key.rfind("A800", 0) != 0) return {};
  return key.substr(3);
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
