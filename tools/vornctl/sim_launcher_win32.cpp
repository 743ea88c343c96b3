// vorn-sim needs a POSIX pseudo-terminal, so the Windows vornctl has no demo;
// under Wine, run the Linux vorn-sim with --link to a COM port of the prefix.
#include <cstdlib>

#include "tools/vornctl/sim_launcher.h"

namespace vornctl {

struct SimLauncher::Process {};

SimLauncher::SimLauncher() = default;

SimLauncher::~SimLauncher() = default;

bool SimLauncher::Start(const std::string &, const std::vector<std::string> &, std::string &error) {
  error =
      "the demo is not available in the Windows build: vorn-sim runs only on Linux. Start it there with "
      "--link to a COM port of the Wine prefix and use 'vornctl record'";
  return false;
}

void SimLauncher::Stop() {}

std::string FindSimulator(const char *) { return {}; }

bool SetEnvironment(const char *name, const std::string &value) { return ::_putenv_s(name, value.c_str()) == 0; }

}  // namespace vornctl
