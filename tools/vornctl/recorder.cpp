#include "tools/vornctl/recorder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>

#include "tools/vornctl/driver_calls.h"
#include "tools/vornctl/host_line.h"
#include "tools/vornctl/line_source.h"
#include "tools/vornctl/period_choices.h"
#include "tools/vornctl/port_advice.h"
#include "tools/vornctl/progress.h"
#include "tools/vornctl/sample_clock.h"
#include "tools/vornctl/stop_signal.h"
#include "vorn.h"

namespace vornctl {

namespace {

// Short enough that Ctrl-C and the end of the time are noticed promptly.
constexpr std::uint32_t kReadTimeoutMs = 100;
// Lines the driver may still hold after the stop; more would mean it never stops.
constexpr int kDrainLimit = 100000;
// Reconnection: tries this far apart at first, doubling up to the longest.
constexpr double kFirstRetrySeconds = 0.5;
constexpr double kLongestRetrySeconds = 8.0;

double Since(HostClock::time_point start) { return std::chrono::duration<double>(HostClock::now() - start).count(); }

// A device that stops sending is noticed after this long without a line.
double StallSeconds(std::int64_t periodUs) { return std::max(3.0, 10.0 * static_cast<double>(periodUs) / 1e6); }

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", s);
  return text;
}

// After CloseAll: discovery again, and the session whose serial text is the
// device's. Identifiers (made from part of the serial number) can be shared
// by several devices, so each one that carries the device's is asked. -1
// when absent.
std::int32_t FindAgain(const vorn_host::VornLibrary &lib, const DeviceIdentity &identity) {
  lib.CloseAll();
  for (std::int32_t index : FindAllDevices(lib)) {
    std::int32_t id = 0;
    if (lib.GetUniqueID(index, &id) != 1 || !identity.uniqueId || id != *identity.uniqueId) continue;
    // A port that is not back yet would hold Initialise for half a minute.
    if (!PortProblemBeforeOpen(PortOfDevice(index)).empty()) continue;
    if (lib.Initialise(index) != 1) continue;
    if (RunCommand(lib, index, VORN_CMD_SERIAL_TEXT).text != identity.serial) continue;
    return index;
  }
  return -1;
}

}  // namespace

std::int64_t MissingEstimate(double seconds, std::int64_t periodUs, std::int64_t received) {
  if (periodUs <= 0 || seconds <= 0 || received == 0) return 0;
  // Lines from the first to the last one received, both included.
  const double expected = seconds * 1e6 / static_cast<double>(periodUs) + 1;
  // A pty or USB link delivers in chunks and a busy host reads late: a few
  // lines, two percent and a tenth of a second are the host's jitter, not loss.
  const double slack = 5.0 + 0.02 * expected + 0.1e6 / static_cast<double>(periodUs);
  const double deficit = expected - static_cast<double>(received) - slack;
  return deficit > 0 ? static_cast<std::int64_t>(std::ceil(deficit)) : 0;
}

std::vector<std::size_t> ColumnOrder(const std::vector<std::int32_t> &positions) {
  std::vector<std::int32_t> sorted = positions;
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::size_t> order;
  for (std::int32_t p : positions) {
    order.push_back(static_cast<std::size_t>(std::lower_bound(sorted.begin(), sorted.end(), p) - sorted.begin()));
  }
  return order;
}

bool PrepareRecording(const vorn_host::VornLibrary &lib, const DeviceDescription &device, const RecordRequest &request,
                      RecordingHeader &header, std::string &error) {
  const std::int32_t index = device.identity.index;
  if (request.periodChoice >= device.periodsUs.size()) {
    error = "the device offers no such period";
    return false;
  }
  header.identity = device.identity;
  header.listedPeriodUs = device.periodsUs[request.periodChoice];
  header.periodUs = NominalPeriodUs(header.listedPeriodUs);
  header.channels.clear();
  for (std::int32_t p : request.positions) {
    for (const ChannelInfo &c : device.channels) {
      if (c.position == p) header.channels.push_back(c);
    }
  }
  if (header.channels.empty() || header.channels.size() != request.positions.size()) {
    error = "no channel to record";
    return false;
  }
  for (const ChannelInfo &c : device.channels) {
    const bool wanted =
        std::find(request.positions.begin(), request.positions.end(), c.position) != request.positions.end();
    const std::uint32_t code = wanted ? VORN_CMD_ENABLE_CHANNEL : VORN_CMD_DISABLE_CHANNEL;
    if (!RunCommand(lib, index, code, c.position).ok) {
      error =
          "cannot " + std::string(wanted ? "enable" : "disable") + " channel " + c.name + ": " + GeneralMessage(lib);
      return false;
    }
  }
  if (!RunCommand(lib, index, VORN_CMD_SELECT_PERIOD, header.listedPeriodUs).ok) {
    error = "cannot select the period: " + GeneralMessage(lib);
    return false;
  }
  return true;
}

RecordStatus Record(const vorn_host::VornLibrary &lib, const DeviceDescription &device, const RecordRequest &request,
                    RecordingHeader header, const std::vector<SampleSink *> &sinks, RecordingSummary &summary,
                    std::string &error) {
  summary = RecordingSummary{};
  DeviceDescription session = device;  // the index changes when the device is found again
  if (!PrepareRecording(lib, session, request, header, error)) return RecordStatus::Failed;
  std::vector<SampleSink *> begun;
  auto finishAll = [&] {
    std::string ignored;
    for (SampleSink *sink : begun) sink->Finish(summary, ignored);
  };
  for (SampleSink *sink : sinks) {
    if (!sink->Begin(header, error)) {
      finishAll();
      return RecordStatus::Failed;
    }
    begun.push_back(sink);
  }
  if (!RunCommand(lib, session.identity.index, VORN_CMD_START).ok) {
    error = "the device did not start streaming: " + GeneralMessage(lib);
    finishAll();
    return RecordStatus::Failed;
  }

  summary.started = true;
  const std::vector<std::size_t> order = ColumnOrder(request.positions);
  // Exactly round(seconds / period) sample sets from the first line, gap sets
  // included (as Python's record does), and at least one.
  const std::int64_t target =
      request.seconds > 0
          ? std::max<std::int64_t>(1, static_cast<std::int64_t>(std::floor(
                                          request.seconds * 1e6 / static_cast<double>(header.periodUs) + 0.5 + 1e-9)))
          : 0;
  auto source = std::make_unique<LineSource>(lib, session.identity.index, request.blockMode);
  ProgressLine progress(request.liveProgress);
  SampleClock clock(header.periodUs);
  std::vector<std::int32_t> values;
  std::vector<std::int32_t> columns(order.size());
  std::string line;
  HostClock::time_point streamStart = HostClock::now();
  HostClock::time_point firstLine{};
  HostClock::time_point lastLine{};
  HostClock::time_point lastCatchUp{};
  bool anyLine = false;
  double spanBefore = 0;  // of the stretches before the last reconnection
  std::int64_t samplesBefore = 0;
  std::int64_t lostBefore = 0;
  RecordStatus status = RecordStatus::Completed;
  bool sinkFailed = false;
  bool stopped = false;

  std::int64_t overflowAt = -1;  // ring bytes taken when the lines after a loss begin
  std::int64_t takenBefore = 0;
  bool reconnected = false;
  auto reportLost = [&](std::int64_t lost) {
    if (request.liveProgress) std::fputc('\n', stderr);
    std::fprintf(stderr, "vornctl: %s: %lld sample set(s) (%s) never reached vornctl; the files mark the gap\n",
                 session.identity.serial.c_str(), static_cast<long long>(lost),
                 Seconds(static_cast<double>(lost) * static_cast<double>(header.periodUs) / 1e6).c_str());
  };
  auto toSinks = [&](auto call) {
    for (SampleSink *sink : sinks) {
      if (!call(*sink)) sinkFailed = true;
    }
  };
  auto full = [&] { return target > 0 && clock.NextIndex() >= target; };
  // A gap that reaches past the end is written only up to it.
  auto withinTarget = [&](std::int64_t gap, std::int64_t nextAfter) {
    return target > 0 && nextAfter > target ? std::max<std::int64_t>(0, gap - (nextAfter - target)) : gap;
  };
  auto take = [&](LineSource::Result result) {
    const HostClock::time_point at = HostClock::now();
    if (overflowAt >= 0 && takenBefore >= overflowAt) {
      clock.Overflowed();
      overflowAt = -1;
    }
    takenBefore = source->Taken();
    const bool first = !clock.Started();
    const std::int64_t gap = clock.Take(at);
    if (first) {
      // The recording starts with its first line, by both clocks.
      StampStartTime(header, at);
      toSinks([&](SampleSink &sink) { return sink.Start(header, error); });
    }
    // The line's own index; the gap's sets come before it.
    const std::int64_t index = clock.NextIndex() - 1;
    const std::int64_t written = withinTarget(gap, index);
    if (written > 0) {
      toSinks([&](SampleSink &sink) { return sink.Gap(written, reconnected ? "reconnect" : "lost", error); });
    }
    if (gap > 0 && !reconnected) reportLost(gap);
    reconnected = false;
    if (target > 0 && index >= target) return;  // the gap filled the recording
    const double host = std::chrono::duration<double>(at - clock.Start()).count();
    const bool parsed = result == LineSource::Result::Line && ParseHostLine(line, header.channels.size(), values);
    if (parsed) {
      for (std::size_t i = 0; i < order.size(); ++i) columns[i] = values[order[i]];
    } else {
      ++summary.dropped;
    }
    ++summary.samples;
    toSinks([&](SampleSink &sink) { return sink.Add(parsed ? &columns : nullptr, host, error); });
    lastLine = at;
    if (!anyLine) firstLine = lastLine;
    anyLine = true;
  };
  // Lines lost while the reader was behind (a full receive ring): the gap
  // goes where the ring overflowed when that is seen, else once caught up.
  auto catchUp = [&] {
    if (!clock.Started() || HostClock::now() - lastCatchUp < std::chrono::milliseconds(50)) return;
    lastCatchUp = HostClock::now();
    const std::int64_t waiting = source->Waiting();
    if (waiting >= kRingNearlyFull && overflowAt < 0) overflowAt = source->Taken() + waiting;
    if (waiting > 0 || !source->Drained()) return;
    const std::int64_t lost = clock.CaughtUp();
    if (lost <= 0) return;
    reportLost(lost);
    const std::int64_t written = withinTarget(lost, clock.NextIndex());
    if (written > 0) toSinks([&](SampleSink &sink) { return sink.Gap(written, "lost", error); });
  };
  auto span = [&] { return anyLine ? std::chrono::duration<double>(lastLine - firstLine).count() : 0.0; };
  auto missing = [&] {
    return MissingEstimate(span(), header.periodUs, summary.samples - samplesBefore + clock.LostSets() - lostBefore);
  };
  // What the sample sets cover, which the host's clock only approximates.
  auto dataSeconds = [&] {
    return Seconds(static_cast<double>(summary.samples) * static_cast<double>(header.periodUs) / 1e6);
  };

  // A device that went away: look for it until it is back, the time is up or Ctrl-C.
  auto reconnect = [&](const std::string &why) {
    const HostClock::time_point lostAt = HostClock::now();
    if (request.liveProgress) std::fputc('\n', stderr);
    std::fprintf(stderr, "vornctl: %s; looking for %s again\n", why.c_str(), session.identity.serial.c_str());
    clock.Interrupted();
    double wait = kFirstRetrySeconds;
    for (;;) {
      if (StopRequested()) return false;
      const std::int32_t index = FindAgain(lib, session.identity);
      if (index >= 0) {
        session.identity.index = index;
        std::string prepareError;
        if (PrepareRecording(lib, session, request, header, prepareError) &&
            RunCommand(lib, index, VORN_CMD_START).ok) {
          break;
        }
      }
      const auto until = HostClock::now() + std::chrono::duration<double>(wait);
      while (HostClock::now() < until && !StopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      wait = std::min(wait * 2, kLongestRetrySeconds);
    }
    std::fprintf(stderr, "vornctl: %s is back after %.1f s; recording goes on, the gap marked in the files\n",
                 session.identity.serial.c_str(), Since(lostAt));
    source = std::make_unique<LineSource>(lib, session.identity.index, request.blockMode);
    overflowAt = -1;
    takenBefore = 0;
    reconnected = true;
    spanBefore += span();
    samplesBefore = summary.samples;
    lostBefore = clock.LostSets();
    anyLine = false;
    streamStart = HostClock::now();
    return true;
  };

  for (;;) {
    if (StopRequested()) {
      status = RecordStatus::Interrupted;
      break;
    }
    if (full()) break;
    std::string lost;
    if (lib.IsFailed(session.identity.index) == 1) {
      lost = "the device went away after " + dataSeconds() + " of data (" + GeneralMessage(lib) + ")";
    } else if (!anyLine && Since(streamStart) > StallSeconds(header.periodUs)) {
      lost = "the device started its stream but sent no data for " + Seconds(Since(streamStart));
    } else if (anyLine && Since(lastLine) > StallSeconds(header.periodUs) && source->Drained()) {
      // Lines waiting mean vornctl was the slow one (a stalled write), not the device.
      lost =
          "the device fell silent after " + dataSeconds() + " of data (nothing for " + Seconds(Since(lastLine)) + ")";
    }
    if (!lost.empty()) {
      if (request.reconnect && reconnect(lost)) continue;
      if (StopRequested()) {
        status = RecordStatus::Interrupted;
        break;
      }
      error = lost;
      status = RecordStatus::Failed;
      break;
    }
    // The clock says the time is up even if lines were lost on the way.
    if (target > 0 && anyLine && spanBefore + span() > request.seconds + StallSeconds(header.periodUs)) break;
    const LineSource::Result result = source->Next(line, kReadTimeoutMs);
    if (result != LineSource::Result::Timeout) take(result);
    if (sinkFailed) {
      status = RecordStatus::Failed;
      break;
    }
    catchUp();
    progress.Update(spanBefore + span(), summary.samples, summary.dropped, missing());
  }

  // A failed session has lost its port; the stop could only time out.
  const bool sessionFailed = lib.IsFailed(session.identity.index) == 1;
  stopped = !sessionFailed && RunCommand(lib, session.identity.index, VORN_CMD_STOP).ok;
  // Lines decoded before the stop are samples of this recording too, up to the time asked for.
  for (int i = 0; i < kDrainLimit && !sinkFailed && !full(); ++i) {
    const LineSource::Result result = source->Next(line, 0);
    if (result == LineSource::Result::Timeout) break;
    take(result);
  }
  if (sinkFailed) status = RecordStatus::Failed;
  summary.seconds = static_cast<double>(summary.samples) * static_cast<double>(header.periodUs) / 1e6;
  summary.missing = missing();
  summary.gaps = clock.Gaps();
  summary.gapSets = clock.GapSets();
  summary.interrupted = status == RecordStatus::Interrupted;
  if (summary.interrupted) summary.stopSignal = StopSignalName();
  progress.Update(spanBefore + span(), summary.samples, summary.dropped, summary.missing, true);
  progress.Finish();
  if (!stopped && status != RecordStatus::Failed) {
    if (full() && lib.IsFailed(session.identity.index) == 1) {
      // Gone just as the data asked for was complete: nothing was lost.
      std::fprintf(stderr, "vornctl: %s went away as the recording ended\n", session.identity.serial.c_str());
    } else {
      // A device that does not answer the stop has hung; its recording is not a success.
      error = "the device did not acknowledge the stop: " + GeneralMessage(lib);
      status = RecordStatus::Failed;
    }
  }

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
