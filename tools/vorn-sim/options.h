#pragma once
// Command line of vorn-sim.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device_protocol.h"
#include "port_watch.h"

namespace VornSim {

struct SimOptions {
  std::string serial = "VSC1234567";
  std::string profile = "default";
  std::optional<std::string> firmware;
  std::optional<std::string> product;
  bool noProduct = false;
  std::optional<std::string> channels;
  std::optional<std::string> periods;
  std::optional<bool> crc;
  int cycleMs = 800;
  std::uint64_t seed = 1;
  std::vector<std::string> faults;
  int faultEvery = 20;
  bool vanishReopen = false;
  int reopenDelayMs = 500;
  PortWatch portWatch = PortWatch::Inotify;
  std::string link;
  std::string trace;
  std::string sentLog;
  double exitAfter = 0.0;  // seconds; 0 runs until a signal
  bool help = false;
  bool listProfiles = false;
  bool describe = false;
};

// False with a message for an unknown option or a bad value.
bool ParseOptions(const std::vector<std::string> &args, SimOptions &options, std::string &error);
// The device the options describe: profile, overrides and fault modes.
bool BuildSettings(const SimOptions &options, DeviceSettings &settings, std::string &error);

std::string HelpText();
std::string ProfileList();
// The lines the device answers V, F and I with, for --describe.
std::string DescribeDevice(const DeviceSettings &settings);

}  // namespace VornSim
