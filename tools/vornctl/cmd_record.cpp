// record N: the recorder proper.
#include "tools/vornctl/cli_args.h"
#include "tools/vornctl/commands.h"
#include "tools/vornctl/record_run.h"

namespace vornctl {

int RecordCommand(Context &context, const RecordOptions &options) {
  if (options.devices.empty() == !options.all) {
    Complain(options.all ? "record: --all records every device; name no device beside it"
                         : "usage: vornctl record N... | --all --out FILE [--channels LIST] [--period P] "
                           "[--seconds S] [--plot FILE.svg]");
    return kExitUsage;
  }
  if (!options.remote.serverKey.empty() || !options.remote.clientKey.empty() || !options.remote.control.empty()) {
    Complain("record: --server-key, --client-key and --control go with --from URL (a publisher's stream)");
    return kExitUsage;
  }
  RecordPlan plan;
  plan.devices = options.devices;
  plan.allDevices = options.all;
  plan.channels = options.channels;
  plan.period = options.period;
  if (!options.seconds.empty()) {
    const std::optional<double> s = ParseSeconds(options.seconds);
    if (!s) {
      Complain("record: --seconds takes a number of seconds, not '" + options.seconds + "'");
      return kExitUsage;
    }
    plan.seconds = *s;
  }
  plan.outputs = options.output.outputs;
  plan.plot = options.output.plot;
  plan.blockMode = options.output.block;
  plan.progress = !options.output.noProgress;
  plan.subject = options.output.subject;
  plan.subjectName = options.output.subjectName;
  plan.force = options.output.force;
  plan.recording = options.output.recording;
  plan.reconnect = options.reconnect;
  if (plan.outputs.empty() && plan.plot.empty()) {
    Complain("record: say where the samples go: --out FILE (CSV, or EDF+ for .edf) and/or --plot FILE.svg");
    return kExitUsage;
  }
  return RunRecordPlan(context, plan, {});
}

}  // namespace vornctl
