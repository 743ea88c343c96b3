#include "tools/vornctl/recorder.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "tools/vornctl/driver_calls.h"
#include "tools/vornctl/host_line.h"
#include "tools/vornctl/line_source.h"
#include "tools/vornctl/period_choices.h"
#include "tools/vornctl/progress.h"
#include "tools/vornctl/stop_signal.h"
#include "vorn.h"

namespace vornctl {

namespace {

using Clock = std::chrono::steady_clock;

// Short enough that Ctrl-C and the end of the time are noticed promptly.
constexpr std::uint32_t kReadTimeoutMs = 100;
// Lines the driver may still hold after the stop; more would mean it never stops.
constexpr int kDrainLimit = 100000;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

bool AddToAll(const std::vector<SampleSink *> &sinks, const std::vector<std::int32_t> *values, std::string &error) {
  for (SampleSink *sink : sinks) {
    if (!sink->Add(values, error)) return false;
  }
  return true;
}

// A device that stops sending is noticed after this long without a line.
double StallSeconds(std::int64_t periodUs) { return std::max(3.0, 10.0 * static_cast<double>(periodUs) / 1e6); }

}  // namespace

std::int64_t MissingEstimate(double seconds, std::int64_t periodUs, std::int64_t received) {
  if (periodUs <= 0 || seconds <= 0) return 0;
  const double expected = seconds * 1e6 / static_cast<double>(periodUs);
  // The first line comes a period after the start, and a pty or USB link
  // delivers in chunks: a few percent and a few lines are latency, not loss.
  const double slack = 5.0 + 0.02 * expected;
  const double deficit = expected - static_cast<double>(received) - slack;
  return deficit > 0 ? static_cast<std::int64_t>(std::ceil(deficit)) : 0;
}

RecordStatus Record(const vorn_host::VornLibrary &lib, const DeviceDescription &device, const RecordRequest &request,
                    const std::vector<SampleSink *> &sinks, RecordingSummary &summary, std::string &error) {
  summary = RecordingSummary{};
  const std::int32_t index = device.identity.index;
  if (request.periodChoice >= device.periodsUs.size()) {
    error = "the device offers no such period";
    return RecordStatus::Failed;
  }
  RecordingHeader header;
  header.identity = device.identity;
  header.listedPeriodUs = device.periodsUs[request.periodChoice];
  header.periodUs = NominalPeriodUs(header.listedPeriodUs);
  for (const ChannelInfo &c : device.channels) {
    const bool wanted = std::find(request.positions.begin(), request.positions.end(), c.position) !=
                        request.positions.end();
    if (wanted) header.channels.push_back(c);
    const std::uint32_t code = wanted ? VORN_CMD_ENABLE_CHANNEL : VORN_CMD_DISABLE_CHANNEL;
    if (!RunCommand(lib, index, code, c.position).ok) {
      error = "cannot " + std::string(wanted ? "enable" : "disable") + " channel " + c.name + ": " +
              GeneralMessage(lib);
      lib.CloseAll();
      return RecordStatus::Failed;
    }
  }
  if (header.channels.empty()) {
    error = "no channel to record";
    lib.CloseAll();
    return RecordStatus::Failed;
  }
  if (!RunCommand(lib, index, VORN_CMD_SELECT_PERIOD, header.listedPeriodUs).ok) {
    error = "cannot select the period: " + GeneralMessage(lib);
    lib.CloseAll();
    return RecordStatus::Failed;
  }
  header.startTime = std::time(nullptr);
  for (SampleSink *sink : sinks) {
    if (!sink->Begin(header, error)) {
      lib.CloseAll();
      return RecordStatus::Failed;
    }
  }
  if (!RunCommand(lib, index, VORN_CMD_START).ok) {
    error = "the device did not start streaming: " + GeneralMessage(lib);
    lib.CloseAll();
    return RecordStatus::Failed;
  }

  summary.started = true;
  const Clock::time_point start = Clock::now();
  LineSource source(lib, index, request.blockMode);
  ProgressLine progress(request.liveProgress);
  std::vector<std::int32_t> values;
  std::string line;
  std::int64_t good = 0;
  double lastLine = 0;
  RecordStatus status = RecordStatus::Completed;
  bool sinkFailed = false;

  auto take = [&](LineSource::Result result) {
    const bool parsed =
        result == LineSource::Result::Line && ParseHostLine(line, header.channels.size(), values);
    if (parsed) {
      ++good;
    } else {
      ++summary.dropped;
    }
    ++summary.samples;
    if (!AddToAll(sinks, parsed ? &values : nullptr, error)) sinkFailed = true;
  };

  for (;;) {
    const double elapsed = Since(start);
    if (StopRequested()) {
      status = RecordStatus::Interrupted;
      break;
    }
    if (request.seconds > 0 && elapsed >= request.seconds) break;
    if (lib.IsFailed(index) == 1) {
      error = "the device failed while recording: " + GeneralMessage(lib);
      status = RecordStatus::Failed;
      break;
    }
    if (elapsed - lastLine > StallSeconds(header.periodUs)) {
      char text[96];
      std::snprintf(text, sizeof text, "no data from the device for %.1f s", elapsed - lastLine);
      error = text;
      status = RecordStatus::Failed;
      break;
    }
    const LineSource::Result result = source.Next(line, kReadTimeoutMs);
    if (result != LineSource::Result::Timeout) {
      lastLine = Since(start);
      take(result);
      if (sinkFailed) {
        status = RecordStatus::Failed;
        break;
      }
    }
    progress.Update(Since(start), summary.samples, summary.dropped,
                    MissingEstimate(Since(start), header.periodUs, summary.samples));
  }

  summary.seconds = Since(start);
  // A failed session has lost its port; the stop could only time out.
  const bool sessionFailed = lib.IsFailed(index) == 1;
  const bool stopped = !sessionFailed && RunCommand(lib, index, VORN_CMD_STOP).ok;
  // Lines decoded before the stop are samples of this recording too.
  for (int i = 0; i < kDrainLimit && !sinkFailed; ++i) {
    const LineSource::Result result = source.Next(line, 0);
    if (result == LineSource::Result::Timeout) break;
    take(result);
  }
  if (sinkFailed) status = RecordStatus::Failed;
  summary.missing = MissingEstimate(summary.seconds, header.periodUs, summary.samples);
  summary.interrupted = status == RecordStatus::Interrupted;
  progress.Update(summary.seconds, summary.samples, summary.dropped, summary.missing, true);
  progress.Finish();
  if (!stopped && status != RecordStatus::Failed) {
    // A device that does not answer the stop has hung; its recording is not a success.
    error = "the device did not acknowledge the stop: " + GeneralMessage(lib);
    status = RecordStatus::Failed;
  }
  lib.CloseAll();

  std::string finishError;
  for (SampleSink *sink : sinks) {
    if (!sink->Finish(summary, finishError) && status != RecordStatus::Failed) {
      error = finishError;
      status = RecordStatus::Failed;
    }
  }
  return status;
}

}  // namespace vornctl
