// This build's vorn-sim for a benchmark (VORN_SIM_PATH names it).
#pragma once

#include <string>
#include <vector>

#include "tools/simlaunch/sim_process.h"

class BenchSim : public vorn_simlaunch::SimProcess {
 public:
  // Starts the simulator and reads its SERIAL=PATH line; ok() tells whether it did.
  explicit BenchSim(const std::vector<std::string> &args = {}) {
    std::string error;
    Start(VORN_SIM_PATH, args, error);
  }
  bool ok() const { return !Path().empty(); }
};
