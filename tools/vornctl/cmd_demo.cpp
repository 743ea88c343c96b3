// demo: a simulated device, a short recording of all its channels at the
// fastest period, and a summary with sparklines.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>

#include "tools/vornctl/cli_args.h"
#include "tools/vornctl/commands.h"
#include "tools/vornctl/console.h"
#include "tools/vornctl/record_run.h"
#include "tools/vornctl/sim_launcher.h"
#include "tools/vornctl/summary_table.h"

namespace vornctl {

namespace {

std::string TemporaryCsv() {
  std::random_device random;
  const auto stamp = std::chrono::system_clock::now().time_since_epoch().count();
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) dir = ".";
  return (dir / ("vornctl-demo-" + std::to_string(stamp % 1000000000) + "-" + std::to_string(random() % 100000) +
                 ".csv"))
      .string();
}

}  // namespace

int DemoCommand(Context &context, const DemoOptions &options) {
  RecordPlan plan;
  plan.seconds = 3;
  if (!options.seconds.empty()) {
    const std::optional<double> s = ParseSeconds(options.seconds);
    if (!s || *s <= 0) {
      Complain("demo: --seconds takes a positive number of seconds, not '" + options.seconds + "'");
      return kExitUsage;
    }
    plan.seconds = *s;
  }
  plan.outputs = options.output.outputs;
  if (plan.outputs.empty()) plan.outputs.push_back(TemporaryCsv());
  plan.plot = options.output.plot;
  plan.blockMode = options.output.block;
  plan.progress = !options.output.noProgress;

  const std::string simulator = FindSimulator(context.argv0);
  SimLauncher sim;
  std::vector<std::string> simArgs;
  if (!options.profile.empty()) simArgs = {"--profile", options.profile};
  for (const std::string &a : options.simArgs) simArgs.push_back(a);
  std::string error;
  if (!sim.Start(simulator, simArgs, error)) {
    Complain(error);
    return kExitFailure;
  }
  std::fprintf(stderr, "vornctl: simulated device %s\n", sim.PortEntry().c_str());
  // Discovery walks exactly these ports, so no real device is touched.
  if (!SetEnvironment("VORN_PORTS", sim.PortEntry())) {
    Complain("cannot set VORN_PORTS");
    return kExitFailure;
  }

  ChannelStatistics statistics;
  const int status = RunRecordPlan(context, plan, {&statistics});
  if (context.loaded) context.lib.CloseAll();
  sim.Stop();
  if (status == kExitOk || status == kExitInterrupted) {
    PrepareConsole();
    std::printf("\n%s", statistics.Table().c_str());
  }
  return status;
}

}  // namespace vornctl
