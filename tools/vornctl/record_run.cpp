#include "tools/vornctl/record_run.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>

#include "tools/vornctl/channel_selection.h"
#include "tools/vornctl/console.h"
#include "tools/vornctl/csv_writer.h"
#include "tools/vornctl/device_lookup.h"
#include "tools/vornctl/edf_writer.h"
#include "tools/vornctl/output_check.h"
#include "tools/vornctl/output_file.h"
#include "tools/vornctl/period_choices.h"
#include "tools/vornctl/recorder.h"
#include "tools/vornctl/recording_report.h"
#include "tools/vornctl/stop_signal.h"
#include "tools/vornctl/svg_plot.h"

namespace vornctl {

namespace {

// Fastest first; the driver's own list runs last-first.
std::string PeriodChoicesText(std::vector<std::int32_t> listed) {
  std::sort(listed.begin(), listed.end());
  std::string text;
  for (std::int32_t us : listed) text += (text.empty() ? "" : ", ") + FormatPeriod(NominalPeriodUs(us));
  return text.empty() ? "none" : text;
}

// One device of the run and everything that is only its own.
struct DeviceRun {
  DeviceDescription device;
  RecordRequest request;
  std::vector<OutputTarget> files;
  std::vector<std::unique_ptr<SampleSink>> owned;
  std::vector<SampleSink *> sinks;
  RecordingSummary summary;
  RecordStatus status = RecordStatus::Completed;
  std::string error;
  std::string name;  // "device 0 (VSC1234567)"
};

}  // namespace

int RunRecordPlan(Context &context, const RecordPlan &plan, const std::vector<SampleSink *> &extraSinks) {
  std::string error;
  std::vector<OutputTarget> files;
  if (!CheckOutputs(plan.outputs, plan.plot, plan.force, files, error)) {
    Complain(error);
    return kExitUsage;
  }
  const bool several = plan.allDevices || plan.devices.size() > 1;
  if (several && std::any_of(files.begin(), files.end(), [](const OutputTarget &f) { return f.path == "-"; })) {
    Complain("--out - takes one device's samples; with several devices give file names (one file per device)");
    return kExitUsage;
  }
  if (several && plan.reconnect) {
    // Finding a device again means CloseAll, which would end the other devices' recordings.
    Complain("--reconnect works with one device at a time");
    return kExitUsage;
  }
  if (!context.Load(error)) {
    Complain(error);
    return kExitFailure;
  }
  const vorn_host::VornLibrary &lib = context.lib;
  std::vector<std::int32_t> chosen;
  if (const int code = ChooseDevices(lib, plan.allDevices, plan.devices, chosen, error)) {
    Complain(error);
    return code;
  }

  std::vector<std::unique_ptr<DeviceRun>> runs;
  for (std::int32_t index : chosen) {
    auto run = std::make_unique<DeviceRun>();
    if (!DescribeDevice(lib, index, run->device, error)) {
      Complain(error);
      return kExitFailure;
    }
    const DeviceDescription &device = run->device;
    run->name = "device " + std::to_string(index) + " (" + device.identity.serial + ")";
    const auto positions = SelectChannels(plan.channels, device.channels, error);
    if (!positions) {
      Complain(several ? run->name + ": " + error : error);
      return kExitUsage;
    }
    run->request.positions = *positions;
    const auto choice = MatchPeriod(plan.period, device.periodsUs);
    if (!choice) {
      Complain((several ? run->name + ": " : std::string()) +
               (device.periodsUs.empty() ? "the device lists no sample periods"
                                         : "the device offers no period '" + plan.period + "'; it offers " +
                                               PeriodChoicesText(device.periodsUs)));
      return device.periodsUs.empty() ? kExitFailure : kExitUsage;
    }
    run->request.periodChoice = *choice;
    run->request.seconds = plan.seconds;
    run->request.blockMode = plan.blockMode;
    run->request.reconnect = plan.reconnect;
    run->request.liveProgress = !several && plan.progress && IsTerminal(stderr);
    for (const OutputTarget &f : files) {
      OutputTarget own = f;
      if (several) {
        // A device's own name is known only now; it is checked before anything streams.
        own.path = PathForDevice(f.path, device.identity.serial + "-" + std::to_string(index));
        if (!CheckOutputPath(own.path, plan.force, error)) {
          Complain(error);
          return kExitUsage;
        }
      }
      run->files.push_back(own);
      run->owned.push_back(MakeOutputWriter(own, plan.force));
    }
    for (auto &sink : run->owned) run->sinks.push_back(sink.get());
    if (!several) run->sinks.insert(run->sinks.end(), extraSinks.begin(), extraSinks.end());
    runs.push_back(std::move(run));
  }

  std::string duration = "until Ctrl-C";
  if (plan.seconds > 0) {
    char text[48];
    std::snprintf(text, sizeof text, "for %g s", plan.seconds);
    duration = text;
  }
  for (const auto &run : runs) {
    const std::int64_t periodUs = NominalPeriodUs(run->device.periodsUs[run->request.periodChoice]);
    std::fprintf(stderr, "vornctl: recording %zu channel(s) of %s every %s %s\n", run->request.positions.size(),
                 run->name.c_str(), FormatPeriod(periodUs).c_str(), duration.c_str());
  }

  // Each recording starts with its own first line; all share the host's
  // monotonic clock, whose value at that moment every file keeps.
  RecordingHeader common;
  StampStartTime(common);
  common.subject = plan.subject;
  common.subjectName = plan.subjectName;
  common.recording = plan.recording;
  BeginRecordingPhase();
  std::vector<std::thread> readers;
  for (auto &run : runs) {
    DeviceRun *r = run.get();
    readers.emplace_back(
        [&lib, r, &common] { r->status = Record(lib, r->device, r->request, common, r->sinks, r->summary, r->error); });
  }
  for (std::thread &t : readers) t.join();
  lib.CloseAll();
  EndRecordingPhase();

  int status = kExitOk;
  bool interrupted = false;
  for (const auto &run : runs) {
    const std::string who = several ? run->name + ": " : std::string();
    const bool failed = run->status == RecordStatus::Failed;
    if (failed) status = kExitFailure;
    std::vector<std::optional<OutputOutcome>> outcomes;
    for (const auto &sink : run->owned) outcomes.push_back(sink->Outcome());
    ReportRecording(who, run->summary, failed, run->error, outcomes);
    interrupted = interrupted || run->status == RecordStatus::Interrupted;
  }
  if (interrupted) {
    Complain("stopped by " + StopSignalName() + "; the files hold everything recorded until then");
    if (status == kExitOk && plan.seconds > 0) status = StopExitStatus();
  }
  return status;
}

}  // namespace vornctl
