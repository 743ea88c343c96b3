// The built vorn-sim as a child process for integration tests.
#pragma once

#include <string>
#include <vector>

#include "tools/simlaunch/sim_process.h"

namespace vorn_test {

class SimProcess : public vorn_simlaunch::SimProcess {
 public:
  // Starts this build's vorn-sim with args and reads its SERIAL=PATH line; ok() tells whether it did.
  explicit SimProcess(const std::vector<std::string> &args = {});

  bool ok() const { return !Path().empty(); }
  const std::string &serial() const { return Serial(); }
  const std::string &path() const { return Path(); }
  // Why it did not start, when ok() is false.
  const std::string &error() const { return error_; }

 private:
  std::string error_;
};

}  // namespace vorn_test
