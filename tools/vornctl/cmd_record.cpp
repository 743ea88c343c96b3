// record N: the recorder proper.
#include "tools/vornctl/cli_args.h"
#include "tools/vornctl/commands.h"
#include "tools/vornctl/record_run.h"

namespace vornctl {

int RecordCommand(Context &context, const std::vector<std::string> &args) {
  const std::vector<OptionSpec> specs = {{"channels"},        {"period"},         {"seconds"},
                                         {"out", true, true}, {"plot"},           {"block", false},
                                         {"no-progress", false}};
  CommandArgs parsed;
  std::string error;
  if (!ParseCommandArgs(args, specs, parsed, error)) {
    Complain("record: " + error);
    return kExitUsage;
  }
  const std::optional<int> index = parsed.positional.size() == 1 ? ParseIndex(parsed.positional[0]) : std::nullopt;
  if (!index) {
    Complain("usage: vornctl record N --out FILE [--channels LIST] [--period P] [--seconds S] [--plot FILE.svg]");
    return kExitUsage;
  }
  RecordPlan plan;
  plan.device = *index;
  plan.channels = parsed.Value("channels").value_or("all");
  plan.period = parsed.Value("period").value_or("fastest");
  if (const auto seconds = parsed.Value("seconds")) {
    const std::optional<double> s = ParseSeconds(*seconds);
    if (!s) {
      Complain("record: --seconds takes a number of seconds, not '" + *seconds + "'");
      return kExitUsage;
    }
    plan.seconds = *s;
  }
  plan.outputs = parsed.All("out");
  plan.plot = parsed.Value("plot").value_or("");
  plan.blockMode = parsed.Has("block");
  plan.progress = !parsed.Has("no-progress");
  if (plan.outputs.empty() && plan.plot.empty()) {
    Complain("record: say where the samples go: --out FILE (CSV, or EDF+ for .edf) and/or --plot FILE.svg");
    return kExitUsage;
  }
  return RunRecordPlan(context, plan, {});
}

}  // namespace vornctl
