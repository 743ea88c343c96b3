#include "tools/vorn-soak/sim_device.h"

#include <cstdio>
#include <cstring>

namespace vorn_soak {

namespace {

std::string g_tmp;  // scratch folder for logs and links
int g_simSerial = 0;

}  // namespace

void SetScratchFolder(const std::string &path) { g_tmp = path; }

std::unique_ptr<Sim> StartSim(const std::vector<std::string> &deviceArgs, const std::vector<std::string> &runArgs,
                              std::string &error, bool withLink) {
  auto sim = std::make_unique<Sim>();
  const int id = ++g_simSerial;
  char serial[16];
  std::snprintf(serial, sizeof serial, "VSC%07d", 100 + id);
  sim->serial = serial;
  sim->sentLog = g_tmp + "/sim" + std::to_string(id) + ".sent";
  sim->trace = g_tmp + "/sim" + std::to_string(id) + ".trace";
  std::string describeError;
  if (!ParseDescription(vorn_simlaunch::DescribeSim(VORN_SIM_PATH, deviceArgs), sim->device, describeError)) {
    error = "vorn-sim --describe: " + describeError;
    return nullptr;
  }
  std::vector<std::string> args = deviceArgs;
  args.insert(args.end(), runArgs.begin(), runArgs.end());
  // A safety net: no simulator outlives a soak that dies.
  args.insert(args.end(),
              {"--serial", sim->serial, "--sent-log", sim->sentLog, "--trace", sim->trace, "--exit-after", "1800"});
  if (withLink) {
    sim->link = g_tmp + "/port" + std::to_string(id);
    args.insert(args.end(), {"--link", sim->link});
  }
  sim->process = std::make_unique<vorn_simlaunch::SimProcess>();
  std::string startError;
  if (!sim->process->Start(VORN_SIM_PATH, args, startError)) {
    error = "vorn-sim did not start";
    return nullptr;
  }
  return sim;
}

}  // namespace vorn_soak
