#include "tools/vornctl/device_reader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "tools/vornctl/csv_writer.h"
#include "tools/vornctl/driver_calls.h"
#include "tools/vornctl/edf_writer.h"
#include "tools/vornctl/host_line.h"
#include "tools/vornctl/line_source.h"
#include "tools/vornctl/period_choices.h"
#include "tools/vornctl/output_file.h"
#include "tools/vornctl/recorder.h"
#include "tools/vornctl/recording_name.h"
#include "tools/vornctl/sample_clock.h"
#include "vorn.h"

namespace vornctl {

namespace {

using Clock = std::chrono::steady_clock;

// Short, so a control request waits at most this long for the worker.
constexpr std::uint32_t kReadTimeoutMs = 20;
// Lines taken before the worker looks at its jobs and the session again.
constexpr int kBatchLines = 256;
constexpr int kDrainLimit = 100000;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double WallMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// A device that stops sending is noticed after this long without a line, as record does.
double StallSeconds(std::int64_t periodUs) { return std::max(3.0, 10.0 * static_cast<double>(periodUs) / 1e6); }

}  // namespace

const char *PhaseName(ReaderPhase phase) {
  switch (phase) {
    case ReaderPhase::Stopped: return "stopped";
    case ReaderPhase::Starting: return "starting";
    case ReaderPhase::Streaming: return "streaming";
    case ReaderPhase::Stopping: return "stopping";
    case ReaderPhase::Failed: return "failed";
  }
  return "failed";
}

struct DeviceReader::Stream {
  Stream(const vorn_host::VornLibrary &lib, std::int32_t index, std::int64_t period)
      : source(lib, index, false), periodUs(period), clock(period) {}
  LineSource source;
  Clock::time_point start = Clock::now();
  double lastLine = 0;
  double lastFailCheck = 0;
  std::int64_t periodUs = 0;
  std::deque<std::pair<double, std::int64_t>> recent;  // for the rate over the last second
  // The stream's own time, which every consumer's sample indexes come from.
  SampleClock clock;
  std::int64_t overflowAt = -1;  // ring bytes taken when the lines after a loss begin
  std::int64_t takenBefore = 0;
  LineBatch batch;
  // The recording's own counts and time.
  std::int64_t recordLines = 0;
  std::int64_t recordDropped = 0;
  std::optional<SampleClock> recordClock;
};

void LineBatch::Clear() {
  at.clear();
  sample.clear();
  damaged.clear();
  values.clear();
}

void LineBatch::Add(Clock::time_point when, std::int64_t index, const std::vector<std::int32_t> *lineValues) {
  at.push_back(when);
  sample.push_back(index);
  damaged.push_back(lineValues ? 0 : 1);
  if (lineValues) {
    values.insert(values.end(), lineValues->begin(), lineValues->end());
  } else {
    values.insert(values.end(), channels, 0);
  }
}

DeviceReader::DeviceReader(const vorn_host::VornLibrary &lib, std::int32_t index,
                           std::optional<DeviceDescription> description, std::string failure, std::string recordDir)
    : lib_(lib), index_(index), recordDir_(std::move(recordDir)) {
  if (description) {
    description_ = std::move(*description);
    identity_ = description_.identity;
    for (const ChannelInfo &c : description_.channels) state_.enabled.push_back(c.position);
    if (description_.periodsUs.empty()) {
      state_.phase = ReaderPhase::Failed;
      state_.message = "the device lists no sample periods";
    } else {
      // The fastest choice, as record's default.
      const auto fastest = std::min_element(description_.periodsUs.begin(), description_.periodsUs.end());
      state_.periodChoice = static_cast<std::size_t>(fastest - description_.periodsUs.begin());
    }
  } else {
    identity_.index = index;
    state_.phase = ReaderPhase::Failed;
    state_.message = failure;
  }
  worker_ = std::thread([this] { Run(); });
}

DeviceReader::~DeviceReader() { Shutdown(); }

ReaderState DeviceReader::State() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

void DeviceReader::AddConsumer(ReaderConsumer *consumer) {
  std::lock_guard<std::mutex> lock(mutex_);
  consumers_.push_back(consumer);
}

void DeviceReader::NotifyChanged() {
  std::vector<ReaderConsumer *> consumers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    consumers = consumers_;
  }
  for (ReaderConsumer *c : consumers) c->Changed(*this);
}

void DeviceReader::HandLines() {
  std::vector<ReaderConsumer *> consumers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    consumers = consumers_;
  }
  for (ReaderConsumer *c : consumers) c->Lines(*this, stream_->batch);
}

void DeviceReader::Submit(std::function<ControlResult()> work, ControlDone done) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!quit_) {
      jobs_.push_back(Job{std::move(work), std::move(done)});
      wake_.notify_all();
      return;
    }
  }
  done({503, "vornctl view is shutting down", {}});
}

ControlResult AwaitControl(const std::function<void(ControlDone)> &control) {
  std::promise<ControlResult> result;
  control([&result](const ControlResult &r) { result.set_value(r); });
  return result.get_future().get();
}

namespace {
ControlResult Refuse(int status, std::string text) { return {status, std::move(text), {}}; }
}  // namespace

void DeviceReader::Start(ControlDone done) {
  ControlResult refused;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    switch (state_.phase) {
      case ReaderPhase::Stopped: break;
      case ReaderPhase::Failed:
        refused = Refuse(409, "device " + std::to_string(index_) + " failed: " + state_.message);
        break;
      case ReaderPhase::Streaming:
      case ReaderPhase::Starting:
        refused = Refuse(409, "device " + std::to_string(index_) + " is already streaming");
        break;
      case ReaderPhase::Stopping:
        refused = Refuse(409, "device " + std::to_string(index_) + " is stopping; try again");
        break;
    }
    if (refused.ok() && state_.enabled.empty()) refused = Refuse(400, "choose at least one channel before starting");
    if (refused.ok()) {
      state_.phase = ReaderPhase::Starting;
      state_.message.clear();
    }
  }
  if (!refused.ok()) return done(refused);
  Submit([this] { return DoStart(); }, std::move(done));
}

void DeviceReader::Stop(ControlDone done) {
  ControlResult refused;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.phase != ReaderPhase::Streaming) {
      refused = Refuse(409, "device " + std::to_string(index_) + " is not streaming (" + PhaseName(state_.phase) + ")");
    } else {
      state_.phase = ReaderPhase::Stopping;
    }
  }
  if (!refused.ok()) return done(refused);
  Submit([this] { return DoStop(); }, std::move(done));
}

ControlResult DeviceReader::CheckChannels(const std::vector<std::int32_t> &chosen) const {
  if (chosen.empty()) return Refuse(400, "choose at least one channel");
  if (std::adjacent_find(chosen.begin(), chosen.end()) != chosen.end()) {
    return Refuse(400, "a channel is listed twice");
  }
  for (std::int32_t p : chosen) {
    const bool known = std::any_of(description_.channels.begin(), description_.channels.end(),
                                   [p](const ChannelInfo &c) { return c.position == p; });
    if (!known) {
      return Refuse(400, "device " + std::to_string(index_) + " has no channel " + std::to_string(p) +
                             " (it has 1 to " + std::to_string(description_.channels.size()) + ")");
    }
  }
  return {};
}

// Checks a change of channels or period; false with the refusal, else true
// with whether a running stream must be restarted (then it is marked as
// stopping). A stopped device takes the change at once, under the same lock
// as the check, so no start slips in between.
bool DeviceReader::BeginChange(const char *what, ControlResult &refused, bool &restart,
                               const std::function<void()> &applyNow) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (state_.phase == ReaderPhase::Failed) {
    refused = Refuse(409, "device " + std::to_string(index_) + " failed");
  } else if (state_.phase == ReaderPhase::Starting || state_.phase == ReaderPhase::Stopping) {
    refused = Refuse(409, "device " + std::to_string(index_) + " is busy; try again");
  } else if (state_.recording.active) {
    refused = Refuse(409, std::string("stop the recording before changing the ") + what);
  }
  if (!refused.ok()) return false;
  restart = state_.phase == ReaderPhase::Streaming;
  if (restart) {
    state_.phase = ReaderPhase::Stopping;
  } else {
    applyNow();
  }
  return true;
}

void DeviceReader::SetChannels(const std::vector<std::int32_t> &positions, ControlDone done) {
  std::vector<std::int32_t> chosen = positions;
  std::sort(chosen.begin(), chosen.end());
  ControlResult refused = CheckChannels(chosen);
  bool restart = false;
  if (!refused.ok() || !BeginChange("channels", refused, restart, [&] { state_.enabled = chosen; })) {
    return done(refused);
  }
  if (!restart) {
    NotifyChanged();
    return done({});
  }
  // A running stream is stopped and started again with the new choice, so no
  // line is read with the wrong number of values.
  Submit(
      [this, chosen] {
        ControlResult r = DoStop();
        if (!r.ok()) return r;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          state_.enabled = chosen;
          state_.phase = ReaderPhase::Starting;
        }
        return DoStart();
      },
      std::move(done));
}

void DeviceReader::SetPeriod(std::size_t choice, ControlDone done) {
  if (choice >= description_.periodsUs.size()) return done(Refuse(400, "the device offers no such period"));
  ControlResult refused;
  bool restart = false;
  if (!BeginChange("period", refused, restart, [&] { state_.periodChoice = choice; })) return done(refused);
  if (!restart) {
    NotifyChanged();
    return done({});
  }
  Submit(
      [this, choice] {
        ControlResult r = DoStop();
        if (!r.ok()) return r;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          state_.periodChoice = choice;
          state_.phase = ReaderPhase::Starting;
        }
        return DoStart();
      },
      std::move(done));
}

void DeviceReader::StartRecording(const std::string &format, ControlDone done) {
  if (format != "csv" && format != "edf") {
    return done(Refuse(400, "a recording is csv or edf, not '" + format + "'"));
  }
  ControlResult refused;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.phase != ReaderPhase::Streaming) {
      refused = Refuse(409, "start device " + std::to_string(index_) + " before recording it");
    } else if (state_.recording.active) {
      refused = Refuse(409, "device " + std::to_string(index_) + " is already recording" +
                                (state_.recording.path.empty() ? "" : " to " + state_.recording.path));
    } else {
      // Taken now, so a second request at the same moment is refused instead
      // of replacing this recording's file.
      state_.recording = RecordingState{true, {}, format, 0, {}};
    }
  }
  if (!refused.ok()) return done(refused);
  Submit([this, format] { return DoStartRecording(format); }, std::move(done));
}

void DeviceReader::StopRecording(ControlDone done) {
  ControlResult refused;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_.recording.active || state_.recording.ending) {
      refused = Refuse(409, "device " + std::to_string(index_) + " is not recording");
    } else {
      state_.recording.ending = true;
    }
  }
  if (!refused.ok()) return done(refused);
  Submit([this] { return DoStopRecording(); }, std::move(done));
}

bool DeviceReader::TakeBlock(DisplayBlock &out) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (block_.values.empty() || (block_.values.front().empty() && block_.skipped == 0)) return false;
  out = std::move(block_);
  block_ = DisplayBlock{};
  block_.stream = state_.stream;
  block_.firstLine = static_cast<std::uint64_t>(state_.stats.lines);
  block_.values.resize(state_.streamed.size());
  return true;
}

void DeviceReader::Shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void DeviceReader::Run() {
  for (;;) {
    Job job;
    bool quitting = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!stream_ && jobs_.empty() && !quit_) {
        wake_.wait_for(lock, std::chrono::milliseconds(200));
      }
      if (!jobs_.empty()) {
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      quitting = quit_;
    }
    if (job.work) {
      job.done(job.work());
      continue;
    }
    if (quitting) break;
    if (stream_) ReadLines();
  }
  // Jobs that came in while quitting are answered, never left waiting.
  std::deque<Job> left;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    left.swap(jobs_);
  }
  for (Job &j : left) j.done({503, "vornctl view is shutting down", {}});
  if (stream_) DoStop();
  if (sink_) DoStopRecording();
}

ControlResult DeviceReader::DoStart() {
  // A start queued behind a restart finds the stream running: it must not reach the device.
  if (stream_) return {409, "device " + std::to_string(index_) + " is already streaming", {}};
  std::vector<std::int32_t> enabled;
  std::size_t choice = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    enabled = state_.enabled;
    choice = state_.periodChoice;
  }
  auto failStart = [&](const std::string &text) {
    const bool failed = lib_.IsFailed(index_) == 1;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      state_.phase = failed ? ReaderPhase::Failed : ReaderPhase::Stopped;
      state_.message = text;
    }
    NotifyChanged();
    return ControlResult{502, text, {}};
  };
  for (const ChannelInfo &c : description_.channels) {
    const bool wanted = std::find(enabled.begin(), enabled.end(), c.position) != enabled.end();
    if (!RunCommand(lib_, index_, wanted ? VORN_CMD_ENABLE_CHANNEL : VORN_CMD_DISABLE_CHANNEL, c.position).ok) {
      return failStart("cannot " + std::string(wanted ? "enable" : "disable") + " channel " + c.name + ": " +
                       GeneralMessage(lib_));
    }
  }
  const std::int32_t listed = description_.periodsUs[choice];
  if (!RunCommand(lib_, index_, VORN_CMD_SELECT_PERIOD, listed).ok) {
    return failStart("cannot select the period: " + GeneralMessage(lib_));
  }
  if (!RunCommand(lib_, index_, VORN_CMD_START).ok) {
    return failStart("the device did not start streaming: " + GeneralMessage(lib_));
  }
  stream_ = std::make_unique<Stream>(lib_, index_, NominalPeriodUs(listed));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.phase = ReaderPhase::Streaming;
    ++state_.stream;
    state_.streamed = enabled;
    state_.stats = ViewStats{};
    block_ = DisplayBlock{};
    block_.stream = state_.stream;
    block_.values.resize(enabled.size());
    stream_->batch.stream = state_.stream;
  }
  stream_->batch.periodUs = stream_->periodUs;
  stream_->batch.channels = enabled.size();
  NotifyChanged();
  return {};
}

void DeviceReader::TakeLine(LineSource::Result result, const std::string &line, std::size_t expected,
                            std::vector<std::int32_t> &values, std::string &sinkError) {
  Stream &s = *stream_;
  const Clock::time_point at = Clock::now();
  const bool parsed = result == LineSource::Result::Line && ParseHostLine(line, expected, values);
  // The first line the driver took after its ring was full may follow lost ones.
  const bool overflowed = s.overflowAt >= 0 && s.takenBefore >= s.overflowAt;
  if (overflowed) {
    s.overflowAt = -1;
    s.clock.Overflowed();
  }
  s.takenBefore = s.source.Taken();
  s.clock.Take(at);
  s.batch.Add(at, s.clock.NextIndex() - 1, parsed ? &values : nullptr);
  if (sink_ && sinkError.empty()) RecordLine(parsed ? &values : nullptr, at, overflowed, sinkError);
}

void DeviceReader::ReadLines() {
  Stream &s = *stream_;
  std::size_t expected = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    expected = state_.streamed.size();
  }
  std::string line;
  std::vector<std::int32_t> values;
  std::string sinkError;
  bool caughtUp = true;
  s.batch.Clear();
  for (int i = 0; i < kBatchLines; ++i) {
    const LineSource::Result result = s.source.Next(line, i == 0 ? kReadTimeoutMs : 0);
    if (result == LineSource::Result::Timeout) break;
    TakeLine(result, line, expected, values, sinkError);
    if (i + 1 == kBatchLines) caughtUp = false;
  }
  const double arrival = WallMs();
  const LineBatch &batch = s.batch;
  // Lines lost while the worker was behind: where the ring overflowed when
  // it is seen full, else once a read found nothing waiting.
  const std::int64_t waiting = s.source.Waiting();
  if (waiting >= kRingNearlyFull && s.overflowAt < 0) s.overflowAt = s.source.Taken() + waiting;
  if (caughtUp) {
    s.clock.CaughtUp();
    if (sink_ && sinkError.empty()) CatchUpRecording(sinkError);
  }
  HandLines();
  const double now = Since(s.start);
  if (batch.Lines() > 0) s.lastLine = now;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ViewStats &stats = state_.stats;
    for (std::size_t i = 0; i < batch.Lines(); ++i) {
      ++stats.lines;
      if (batch.damaged[i]) ++stats.dropped;
      if (block_.values.empty() ? false : block_.values.front().size() >= kDisplayLimit) {
        ++block_.skipped;
        continue;
      }
      for (std::size_t c = 0; c < block_.values.size() && c < batch.channels; ++c) {
        block_.values[c].push_back(batch.damaged[i] ? kNoValue : batch.values[i * batch.channels + c]);
      }
    }
    if (batch.Lines() > 0) block_.lastArrivalMs = arrival;
    s.recent.emplace_back(now, stats.lines);
    while (s.recent.size() > 2 && now - s.recent.front().first > 1.0) s.recent.pop_front();
    const double span = now - s.recent.front().first;
    stats.rate = span > 0 ? static_cast<double>(stats.lines - s.recent.front().second) / span : 0;
    stats.seconds = now;
    stats.missing = MissingEstimate(now, s.periodUs, stats.lines);
    if (sink_) state_.recording.lines = s.recordLines;
  }
  if (!sinkError.empty()) {
    DoStopRecording();
    std::lock_guard<std::mutex> lock(mutex_);
    state_.lastRecording.error = sinkError;
    state_.message = "the recording stopped: " + sinkError;
  }
  if (now - s.lastFailCheck >= 0.1) {
    s.lastFailCheck = now;
    if (lib_.IsFailed(index_) == 1) {
      Fail("the device failed: " + GeneralMessage(lib_));
      return;
    }
  }
  if (now - s.lastLine > StallSeconds(s.periodUs)) {
    char text[96];
    std::snprintf(text, sizeof text, "no data from the device for %.1f s", now - s.lastLine);
    Fail(text);
  }
}

void DeviceReader::Fail(const std::string &message) {
  // A silent device may still hear the stop; a failed session has lost its port.
  if (lib_.IsFailed(index_) != 1) RunCommand(lib_, index_, VORN_CMD_STOP);
  if (sink_) DoStopRecording();
  stream_.reset();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.phase = ReaderPhase::Failed;
    state_.message = message;
  }
  NotifyChanged();
}

ControlResult DeviceReader::DoStop() {
  if (!stream_) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.phase == ReaderPhase::Stopping) state_.phase = ReaderPhase::Stopped;
    return {409, "device " + std::to_string(index_) + " is not streaming", {}};
  }
  const bool sessionFailed = lib_.IsFailed(index_) == 1;
  const bool stopped = !sessionFailed && RunCommand(lib_, index_, VORN_CMD_STOP).ok;
  // Lines decoded before the stop belong to the stream, its recording and its consumers.
  {
    std::string line;
    std::vector<std::int32_t> values;
    std::size_t expected = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      expected = state_.streamed.size();
    }
    std::string sinkError;
    stream_->batch.Clear();
    for (int i = 0; i < kDrainLimit; ++i) {
      const LineSource::Result result = stream_->source.Next(line, 0);
      if (result == LineSource::Result::Timeout) break;
      TakeLine(result, line, expected, values, sinkError);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    state_.stats.lines += static_cast<std::int64_t>(stream_->batch.Lines());
    for (std::uint8_t d : stream_->batch.damaged) state_.stats.dropped += d;
  }
  HandLines();
  ControlResult result;
  if (sink_) result = DoStopRecording();
  stream_.reset();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stopped) {
      state_.phase = ReaderPhase::Failed;
      state_.message = sessionFailed ? "the device failed: " + GeneralMessage(lib_)
                                     : "the device did not acknowledge the stop: " + GeneralMessage(lib_);
      result = {502, state_.message, result.path};
    } else {
      state_.phase = ReaderPhase::Stopped;
    }
  }
  NotifyChanged();
  return result;
}

std::string DeviceReader::RecordingPath(const std::string &format) const {
  return FreshRecordingPath(recordDir_, identity_.serial, format);
}

void DeviceReader::RecordLine(const std::vector<std::int32_t> *values, Clock::time_point at, bool overflowed,
                              std::string &sinkError) {
  Stream &s = *stream_;
  SampleClock &clock = *s.recordClock;
  if (overflowed) clock.Overflowed();
  const bool first = !clock.Started();
  const std::int64_t gap = clock.Take(at);
  bool ok = true;
  if (first) {
    // The recording starts with its first line.
    StampStartTime(header_, at);
    ok = sink_->Start(header_, sinkError);
  }
  if (gap > 0) ok = ok && sink_->Gap(gap, "lost", sinkError);
  ++s.recordLines;
  if (!values) ++s.recordDropped;
  const double host = std::chrono::duration<double>(at - clock.Start()).count();
  ok = ok && sink_->Add(values, host, sinkError);
  if (!ok && sinkError.empty()) sinkError = "write failed";
}

void DeviceReader::CatchUpRecording(std::string &sinkError) {
  const std::int64_t lost = stream_->recordClock->CaughtUp();
  if (lost > 0 && !sink_->Gap(lost, "lost", sinkError) && sinkError.empty()) sinkError = "write failed";
}

ControlResult DeviceReader::DoStartRecording(const std::string &format) {
  auto giveUp = [this](ControlResult r) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.recording = RecordingState{};
    return r;
  };
  // The stream may have failed since the request was taken.
  if (!stream_) return giveUp({409, "start device " + std::to_string(index_) + " before recording it", {}});
  if (sink_) return {409, "device " + std::to_string(index_) + " is already recording", {}};
  RecordingHeader header;
  header.identity = identity_;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const ChannelInfo &c : description_.channels) {
      if (std::find(state_.streamed.begin(), state_.streamed.end(), c.position) != state_.streamed.end()) {
        header.channels.push_back(c);
      }
    }
    header.listedPeriodUs = description_.periodsUs[state_.periodChoice];
  }
  header.periodUs = NominalPeriodUs(header.listedPeriodUs);
  StampStartTime(header);
  std::string path;
  std::unique_ptr<SampleSink> sink;
  std::string error;
  // A name taken between the look and the creation gets the next one.
  for (int attempt = 0; attempt < 5 && !sink; ++attempt) {
    path = RecordingPath(format);
    sink = format == "edf" ? MakeEdfWriter(path) : std::unique_ptr<SampleSink>(std::make_unique<CsvWriter>(path));
    error.clear();
    if (!sink->Begin(header, error)) sink.reset();
  }
  if (!sink) return giveUp({500, "cannot record to " + path + ": " + error, {}});
  sink_ = std::move(sink);
  header_ = header;
  stream_->recordLines = 0;
  stream_->recordDropped = 0;
  stream_->recordClock.emplace(header.periodUs);
  std::lock_guard<std::mutex> lock(mutex_);
  state_.recording.path = path;
  return {0, {}, path};
}

ControlResult DeviceReader::DoStopRecording() {
  if (!sink_) return {409, "device " + std::to_string(index_) + " is not recording", {}};
  RecordingSummary summary;
  summary.started = true;
  if (stream_) {
    summary.samples = stream_->recordLines;
    summary.dropped = stream_->recordDropped;
    summary.seconds = static_cast<double>(summary.samples) * static_cast<double>(header_.periodUs) / 1e6;
    if (stream_->recordClock) {
      const SampleClock &clock = *stream_->recordClock;
      summary.gaps = clock.Gaps();
      summary.gapSets = clock.GapSets();
      summary.missing = MissingEstimate(clock.HostSeconds(), header_.periodUs, summary.samples + clock.LostSets());
    }
  }
  std::string error;
  const bool ok = sink_->Finish(summary, error);
  const std::optional<OutputOutcome> outcome = sink_->Outcome();
  sink_.reset();
  std::lock_guard<std::mutex> lock(mutex_);
  RecordingState ended = state_.recording;
  ended.active = false;
  ended.ending = false;
  ended.lines = summary.samples;
  if (outcome) ended.path = outcome->path;
  // What the file holds, not what was read: after a failure they differ.
  const std::string holds = outcome ? outcome->holds : std::to_string(summary.samples) + " sample sets";
  const bool written = outcome && outcome->written;
  if (!ok) ended.error = error;
  if (ok && !written) ended.error = PathForMessage(ended.path) + " was not written: " + holds;
  state_.lastRecording = ended;
  state_.recording = RecordingState{};
  if (!ok) {
    std::fprintf(stderr, "vornctl: device %d: %s; %s holds %s\n", index_, error.c_str(), ended.path.c_str(),
                 written ? holds.c_str() : "nothing");
    return {500, "cannot finish " + ended.path + ": " + error, written ? ended.path : std::string()};
  }
  if (!written) {
    std::fprintf(stderr, "vornctl: device %d: %s\n", index_, ended.error.c_str());
    return {0, {}, {}};
  }
  std::fprintf(stderr, "vornctl: device %d: wrote %s (%s)\n", index_, ended.path.c_str(), holds.c_str());
  return {0, {}, ended.path};
}

}  // namespace vornctl
