#include "common/sim_process.h"

namespace vorn_test {

SimProcess::SimProcess(const std::vector<std::string> &args) { Start(VORN_SIM_PATH, args, error_); }

}  // namespace vorn_test
