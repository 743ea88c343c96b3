// Simulated devices for the behavioural cases that go through the exports.
// Natively the test starts vorn-sim itself; under Wine the harness has started
// the simulators behind COM ports and names them in VORN_TEST_DEVICES.
#pragma once

#include <string>
#include <vector>

namespace vorn_test {

// The devices every host offers, each a vorn-sim with its own serial number.
// kLostB never answers its first B; kNamesMismatch sends one channel name too few.
enum class Role { kDefault, kSecond, kWrongFirmware, kCrc, kLostB, kNamesMismatch };

// "SERIAL=PATH" of the device in that role; empty when it could not be provided.
std::string DevicePort(Role role);

// Sets VORN_PORTS for the library in this process (discovery reads it at each search).
void SetVornPorts(const std::string &value);

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
