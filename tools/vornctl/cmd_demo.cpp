// demo: a simulated device, a short recording of all its channels at the
// fastest period, and a summary with sparklines.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <ctime>

#include "tools/vornctl/cli_args.h"
#include "tools/vornctl/commands.h"
#include "tools/vornctl/console.h"
#include "tools/vornctl/output_file.h"
#include "tools/vornctl/record_run.h"
#include "tools/vornctl/sim_launcher.h"
#include "tools/vornctl/summary_table.h"

namespace vornctl {

namespace {

// Every demo writes into this one folder, so its files are easy to find
// and to clear away.
std::filesystem::path DemoFolder() {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) dir = ".";
  return dir / "vornctl-demo";
}

std::string DemoCsv(std::string &error) {
  const std::filesystem::path folder = DemoFolder();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    error = "cannot make the demo's folder " + folder.string() + ": " + ec.message();
    return {};
  }
  const std::time_t now = std::time(nullptr);
  char stamp[32] = "demo";
  if (const std::tm *local = std::localtime(&now)) std::strftime(stamp, sizeof stamp, "demo-%Y%m%d-%H%M%S", local);
  // A new name: never an earlier demo's file, nor one cut short.
  auto taken = [&](const std::string &name) {
    const std::string path = (folder / (name + ".csv")).string();
    return InspectPath(path).kind != PathKind::Missing || InspectPath(PartialPath(path)).kind != PathKind::Missing;
  };
  std::string name = stamp;
  for (int n = 2; taken(name) && n < 10000; ++n) name = std::string(stamp) + "-" + std::to_string(n);
  return (folder / (name + ".csv")).string();
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
  std::string error;
  if (plan.outputs.empty()) {
    plan.outputs.push_back(DemoCsv(error));
    if (plan.outputs.back().empty()) {
      Complain(error);
      return kExitFailure;
    }
    std::fprintf(stderr, "vornctl: the demo's recording goes to %s\n", plan.outputs.back().c_str());
  }
  plan.plot = options.output.plot;
  plan.blockMode = options.output.block;
  plan.progress = !options.output.noProgress;
  plan.subject = options.output.subject;
  plan.subjectName = options.output.subjectName;
  plan.force = options.output.force;
  plan.recording = options.output.recording;

  const std::string simulator = FindSimulator(context.argv0);
  SimLauncher sim;
  std::vector<std::string> simArgs;
  if (!options.profile.empty()) simArgs = {"--profile", options.profile};
  for (const std::string &a : options.simArgs) simArgs.push_back(a);
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
  if (status != kExitFailure && status != kExitUsage) {
    PrepareConsole();
    std::printf("\n%s", statistics.Table().c_str());
  }
  return status;
}

}  // namespace vornctl
