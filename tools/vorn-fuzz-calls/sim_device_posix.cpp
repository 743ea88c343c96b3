#include <cstdio>

#include "tools/simlaunch/sim_process.h"
#include "tools/vorn-fuzz-calls/sim_device.h"

namespace vorn_fuzz {

namespace {

class PtySim final : public SimDevice {
 public:
  std::string PortEntry() const override { return entry; }
  vorn_simlaunch::SimProcess process;
  std::string entry;
};

int linkCount = 0;

}  // namespace

std::unique_ptr<SimDevice> StartSimDevice(const std::vector<std::string> &args, const std::string &serial,
                                          const std::string &sentLog, const std::string &scratch, std::string &error) {
  auto sim = std::make_unique<PtySim>();
  const std::string link = scratch + "/port" + std::to_string(++linkCount);
  std::vector<std::string> all = args;
  all.insert(all.end(), {"--serial", serial, "--sent-log", sentLog, "--link", link, "--exit-after", "900"});
  std::string why;
  if (!sim->process.Start(VORN_SIM_PATH, all, why)) {
    error = why;
    return nullptr;
  }
  sim->entry = serial + "=" + link;
  return sim;
}

std::string DescribeSimDevice(const std::vector<std::string> &args) {
  return vorn_simlaunch::DescribeSim(VORN_SIM_PATH, args);
}

}  // namespace vorn_fuzz
