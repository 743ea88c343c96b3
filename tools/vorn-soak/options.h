// vorn-soak's command line.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vorn_soak {

struct Options {
  std::string library = VORN_LIBRARY_PATH;
  std::string json = "build/soak-results/soak.json";
  std::vector<std::pair<std::string, long>> scenarios;
};

extern const char kUsage[];
// The line faults the simulator injects, each a scenario of its own ("faults" runs them all).
extern const char *const kFaultModes[7];

// Reads the command line into o; -1 to go on, else the exit status (help, usage error).
int ParseOptions(int argc, char **argv, Options &o);

}  // namespace vorn_soak
