// The simulated devices of a sequence: vorn-sim with the device's arguments and a
// log of the data lines it sends. Natively the simulator runs on a pty of its own;
// under Wine it is the native simulator too, behind a COM port of the prefix.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vorn_fuzz {

class SimDevice {
 public:
  virtual ~SimDevice() = default;  // stops the simulator
  // What VORN_PORTS takes for it: SERIAL=PATH.
  virtual std::string PortEntry() const = 0;
};

// Starts the simulator for the device's args under serial, logging what it sends to
// sentLog; null with the reason when it does not come up.
std::unique_ptr<SimDevice> StartSimDevice(const std::vector<std::string> &args, const std::string &serial,
                                          const std::string &sentLog, const std::string &scratch, std::string &error);

// What the simulator prints for --describe with the device's args; empty on failure.
std::string DescribeSimDevice(const std::vector<std::string> &args);

}  // namespace vorn_fuzz
