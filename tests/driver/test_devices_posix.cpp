#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "common/sim_process.h"
#include "driver/test_devices.h"

namespace vorn_test {

namespace {

std::vector<std::string> ArgsFor(Role role) {
  switch (role) {
    case Role::kDefault: return {"--serial", "VSC0000501"};
    case Role::kSecond: return {"--serial", "A8000000502"};
    case Role::kWrongFirmware: return {"--serial", "VSC0000503", "--firmware", "2"};
    case Role::kCrc: return {"--serial", "VSC0000504", "--profile", "crc"};
    case Role::kLostB: return {"--serial", "VSC0000508", "--fault", "lose-b-answer"};
    case Role::kNamesMismatch: return {"--serial", "VSC0000509", "--fault", "names-mismatch=1"};
    case Role::kUnits: return {"--serial", "VSC0000510", "--profile", "units"};
  }
  return {};
}

std::map<Role, std::unique_ptr<SimProcess>> &Running() {
  static std::map<Role, std::unique_ptr<SimProcess>> running;
  return running;
}

}  // namespace

std::string DevicePort(Role role) {
  auto &slot = Running()[role];
  if (!slot) slot = std::make_unique<SimProcess>(ArgsFor(role));
  return slot->ok() ? slot->PortEntry() : std::string();
}

void SetVornPorts(const std::string &value) { setenv("VORN_PORTS", value.c_str(), 1); }

std::vector<HostCodePage> HostCodePages() {
  return {{"a UTF-8 locale", "C.UTF-8",
           "\xC2\xB0"
           "C",
           "\xC2\xB5"
           "V"},
          // ASCII has no such characters: the library hands Latin-1 to such hosts.
          {"the C locale", "C",
           "\xB0"
           "C",
           "\xB5"
           "V"}};
}

void SetLocaleVariable(const std::string &value) {
  if (value.empty()) {
    unsetenv("LC_ALL");
  } else {
    setenv("LC_ALL", value.c_str(), 1);
  }
}

bool UnplugDevice(Role role) {
  auto it = Running().find(role);
  if (it == Running().end()) return false;
  it->second->Kill();
  Running().erase(it);
  return true;
}

LibraryThreads::LibraryThreads(void *) {}
LibraryThreads::~LibraryThreads() = default;
int LibraryThreads::StillRunning() const { return -1; }

std::string ReloadInOneProcessBlocker() { return {}; }

}  // namespace vorn_test
