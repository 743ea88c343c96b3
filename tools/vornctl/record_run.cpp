#include "tools/vornctl/record_run.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "tools/vornctl/channel_selection.h"
#include "tools/vornctl/console.h"
#include "tools/vornctl/csv_writer.h"
#include "tools/vornctl/device_lookup.h"
#include "tools/vornctl/edf_writer.h"
#include "tools/vornctl/period_choices.h"
#include "tools/vornctl/recorder.h"
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

}  // namespace

int RunRecordPlan(Context &context, const RecordPlan &plan, const std::vector<SampleSink *> &extraSinks) {
  std::string error;
  for (const std::string &path : plan.outputs) {
    if (IsEdfPath(path) && !EdfAvailable()) {
      Complain("cannot write " + path + ": this vornctl was built without EDF+ support (EDFlib); write CSV instead");
      return kExitFailure;
    }
  }
  if (!context.Load(error)) {
    Complain(error);
    return kExitFailure;
  }
  const vorn_host::VornLibrary &lib = context.lib;
  DeviceDescription device;
  if (!DescribeDevice(lib, plan.device, device, error)) {
    Complain(error);
    return kExitFailure;
  }
  if (StopRequested()) {
    Complain("stopped before the recording began");
    return kExitInterrupted;
  }
  RecordRequest request;
  const auto positions = SelectChannels(plan.channels, device.channels, error);
  if (!positions) {
    Complain(error);
    return kExitUsage;
  }
  request.positions = *positions;
  const auto choice = MatchPeriod(plan.period, device.periodsUs);
  if (!choice) {
    Complain(device.periodsUs.empty() ? "the device lists no sample periods"
                                      : "the device offers no period '" + plan.period +
                                            "'; it offers " + PeriodChoicesText(device.periodsUs));
    return device.periodsUs.empty() ? kExitFailure : kExitUsage;
  }
  request.periodChoice = *choice;
  request.seconds = plan.seconds;
  request.blockMode = plan.blockMode;
  request.liveProgress = plan.progress && IsTerminal(stderr);

  std::vector<std::unique_ptr<SampleSink>> owned;
  for (const std::string &path : plan.outputs) {
    if (IsEdfPath(path)) {
      owned.push_back(MakeEdfWriter(path));
    } else {
      owned.push_back(std::make_unique<CsvWriter>(path));
    }
  }
  if (!plan.plot.empty()) owned.push_back(std::make_unique<SvgPlot>(plan.plot));
  std::vector<SampleSink *> sinks;
  for (auto &sink : owned) sinks.push_back(sink.get());
  sinks.insert(sinks.end(), extraSinks.begin(), extraSinks.end());

  if (device.unitsIncomplete) {
    Complain("warning: the device reports some units as \"na\"; the driver leaves them out, so some "
             "units may belong to other channels");
  }
  const std::int64_t periodUs = NominalPeriodUs(device.periodsUs[*choice]);
  std::string duration = "until Ctrl-C";
  if (plan.seconds > 0) {
    char text[48];
    std::snprintf(text, sizeof text, "for %g s", plan.seconds);
    duration = text;
  }
  std::fprintf(stderr, "vornctl: recording %zu channel(s) of device %d (%s) every %s %s\n", request.positions.size(),
               plan.device, device.identity.serial.c_str(), FormatPeriod(periodUs).c_str(), duration.c_str());

  RecordingSummary summary;
  const RecordStatus status = Record(lib, device, request, sinks, summary, error);
  if (summary.started) {
    std::fprintf(stderr, "vornctl: %lld sample set(s) in %.1f s (%.1f per s), %lld dropped, %lld missing\n",
                 static_cast<long long>(summary.samples), summary.seconds,
                 summary.seconds > 0 ? static_cast<double>(summary.samples) / summary.seconds : 0.0,
                 static_cast<long long>(summary.dropped), static_cast<long long>(summary.missing));
  }
  if (status == RecordStatus::Failed) {
    Complain(error);
    if (summary.samples > 0 && !plan.outputs.empty()) Complain("the files hold what was recorded until then");
    return kExitFailure;
  }
  if (summary.missing > 0) {
    Complain("warning: " + std::to_string(summary.missing) +
             " sample set(s) that the period and the clock expected never arrived");
  }
  for (const std::string &path : plan.outputs) {
    if (path != "-") std::fprintf(stderr, "vornctl: wrote %s\n", path.c_str());
  }
  if (!plan.plot.empty()) std::fprintf(stderr, "vornctl: wrote %s\n", plan.plot.c_str());
  if (status == RecordStatus::Interrupted) {
    Complain("stopped by Ctrl-C; the files hold everything recorded until then");
    return plan.seconds > 0 ? kExitInterrupted : kExitOk;
  }
  return kExitOk;
}

}  // namespace vornctl
