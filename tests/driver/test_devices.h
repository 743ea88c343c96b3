// Simulated devices for the behavioural cases that go through the exports.
// Natively the test starts vorn-sim itself; under Wine the harness has started
// the simulators behind COM ports and names them in VORN_TEST_DEVICES.
#pragma once

#include <string>

namespace vorn_test {

// The devices every host offers, each a vorn-sim with its own serial number.
enum class Role { kDefault, kSecond, kWrongFirmware, kCrc };

// "SERIAL=PATH" of the device in that role; empty when it could not be provided.
std::string DevicePort(Role role);

// Sets VORN_PORTS for the library in this process (discovery reads it at each search).
void SetVornPorts(const std::string &value);

// Ends the device's simulator (native only; under Wine false, the case is skipped).
bool UnplugDevice(Role role);

}  // namespace vorn_test
