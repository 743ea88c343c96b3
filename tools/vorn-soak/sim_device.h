// A vorn-sim device for the soak, with the logs it writes in the scratch folder.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/hostcheck/line_check.h"
#include "tools/simlaunch/sim_process.h"

namespace vorn_soak {

// The folder for the simulators' logs and links.
void SetScratchFolder(const std::string &path);

// A simulator with its sent log, trace and the lines it announces.
struct Sim {
  std::unique_ptr<vorn_simlaunch::SimProcess> process;
  std::string sentLog, trace, link, serial;
  DeviceDescription device;
  std::size_t offset = 0;  // of the sent log already compared

  std::string PortEntry() const { return link.empty() ? process->PortEntry() : serial + "=" + link; }
  std::vector<std::string> NewSent() { return ReadSentLog(sentLog, offset); }
  long TraceCount(const std::string &text) const {
    std::FILE *f = std::fopen(trace.c_str(), "r");
    if (!f) return 0;
    long n = 0;
    char line[8192];
    while (std::fgets(line, sizeof line, f)) n += std::strstr(line, text.c_str()) != nullptr;
    std::fclose(f);
    return n;
  }
};

// deviceArgs describe the device (profile, channels, periods); runArgs only how it runs (faults, links).
std::unique_ptr<Sim> StartSim(const std::vector<std::string> &deviceArgs, const std::vector<std::string> &runArgs,
                              std::string &error, bool withLink = false);

}  // namespace vorn_soak
