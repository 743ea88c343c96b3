// Simulated devices for the behavioural cases that go through the exports.
// Natively the test starts vorn-sim itself; under Wine the harness has started
// the simulators behind COM ports and names them in VORN_TEST_DEVICES.
#pragma once

#include <string>
#include <vector>

namespace vorn_test {

// The devices every host offers, each a vorn-sim with its own serial number.
// kLostB never answers its first B; kNamesMismatch sends one channel name too few;
// kUnits has the units "°C" and "µV", a byte each as in Latin-1.
enum class Role { kDefault, kSecond, kWrongFirmware, kCrc, kLostB, kNamesMismatch, kUnits };

// "SERIAL=PATH" of the device in that role; empty when it could not be provided.
std::string DevicePort(Role role);

// Sets VORN_PORTS for the library in this process (discovery reads it at each search).
void SetVornPorts(const std::string &value);

// A code page a host of this platform may have, and "°C" and "µV" written in it.
struct HostCodePage {
  std::string name;
  std::string localeVariable;  // LC_ALL for the next load of the library; empty: as it is
  std::string degreesCelsius;
  std::string microvolt;
};
std::vector<HostCodePage> HostCodePages();
// Sets LC_ALL (empty: unsets it).
void SetLocaleVariable(const std::string &value);

// Ends the device's simulator (native only; under Wine false, the case is skipped).
bool UnplugDevice(Role role);

// The threads of this process that started in the loaded library's code (handle as
// the host library holds it), taken when made.
class LibraryThreads {
 public:
  explicit LibraryThreads(void *libraryHandle);
  ~LibraryThreads();
  LibraryThreads(const LibraryThreads &) = delete;
  LibraryThreads &operator=(const LibraryThreads &) = delete;

  // How many were taken; -1 where this platform cannot tell where a thread started.
  int Taken() const { return known_ ? static_cast<int>(threads_.size()) : -1; }
  // How many of those have not ended yet.
  int StillRunning() const;

 private:
  bool known_ = false;
  std::vector<void *> threads_;
};

// Why loading the library again in this process cannot be tested here; empty when it can.
std::string ReloadInOneProcessBlocker();

}  // namespace vorn_test
