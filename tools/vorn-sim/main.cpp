// vorn-sim: a simulated Vorn device on a pseudo-terminal. See --help.

#include <cstdio>
#include <string>
#include <vector>

#include "options.h"
#include "sim_server.h"

int main(int argc, char **argv) {
  using namespace VornSim;
  SimOptions options;
  std::string error;
  if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "vorn-sim: %s\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }
  if (options.listProfiles) {
    std::fputs(ProfileList().c_str(), stdout);
    return 0;
  }
  DeviceSettings settings;
  if (!BuildSettings(options, settings, error)) {
    std::fprintf(stderr, "vorn-sim: %s\n", error.c_str());
    return 2;
  }
  if (options.describe) {
    std::fputs(DescribeDevice(settings).c_str(), stdout);
    return 0;
  }
  return RunServer(options, settings);
}
