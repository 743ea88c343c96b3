#include "tools/vornctl/view_remote.h"

#include <algorithm>
#include <cstdio>
#include <future>

#include "tools/vornctl/output_check.h"
#include "tools/vornctl/output_file.h"
#include "tools/vornctl/recorder.h"
#include "tools/vornctl/recording_name.h"
#include "tools/vornctl/stop_signal.h"

namespace vornctl {

namespace {

// The publisher sends every device's metadata at least once a second.
constexpr auto kSilentAfter = std::chrono::seconds(3);
constexpr auto kNothingArrivesAfter = std::chrono::seconds(5);
constexpr int kPollMs = 50;
// A hole in the page's lines up to this long is shown as one; beyond it the
// lines not yet taken by the page are left out.
constexpr std::uint64_t kLargestShownHole = 2000;

ControlResult Refuse(int status, std::string text) { return {status, std::move(text), {}}; }

DeviceDescription DescriptionOf(const StreamMeta &meta) {
  DeviceDescription d;
  d.identity = IdentityOf(meta);
  d.channels = meta.channels;
  for (std::int64_t us : meta.periodsUs) d.periodsUs.push_back(static_cast<std::int32_t>(us));
  if (std::find(meta.periodsUs.begin(), meta.periodsUs.end(), meta.periodUs) == meta.periodsUs.end()) {
    d.periodsUs.push_back(static_cast<std::int32_t>(meta.periodUs));
  }
  return d;
}

std::size_t PeriodChoice(const StreamMeta &meta) {
  const DeviceDescription d = DescriptionOf(meta);
  const auto it = std::find(d.periodsUs.begin(), d.periodsUs.end(), static_cast<std::int32_t>(meta.periodUs));
  return static_cast<std::size_t>(it - d.periodsUs.begin());
}

bool SameStream(const StreamMeta &a, const StreamMeta &b) {
  return a.stream == b.stream && a.publisherStartUnix == b.publisherStartUnix && SameLayout(a, b);
}

}  // namespace

RemoteViewDevice::RemoteViewDevice(std::int32_t index, const StreamMeta &meta, RemoteSource &source,
                                   std::string recordDir)
    : index_(index), source_(source), recordDir_(std::move(recordDir)), lastMeta_(Clock::now()) {
  // Unlike any metadata, so the first is taken as a new stream.
  meta_.stream = -1;
  OnMeta(meta);
}

RemoteViewDevice::~RemoteViewDevice() = default;

DeviceIdentity RemoteViewDevice::Identity() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return IdentityOf(meta_);
}

DeviceDescription RemoteViewDevice::Description() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return DescriptionOf(meta_);
}

ReaderState RemoteViewDevice::State() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

std::string RemoteViewDevice::Source() const { return source_.Url(); }

void RemoteViewDevice::NewStream() {
  ++state_.stream;
  state_.streamed = meta_.enabled;
  state_.stats = ViewStats{};
  block_ = DisplayBlock{};
  block_.stream = state_.stream;
  block_.values.resize(meta_.enabled.size());
  streamSeen_ = false;
  recent_.clear();
}

void RemoteViewDevice::OnMeta(const StreamMeta &meta) {
  bool layoutChanged = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    layoutChanged = meta_.stream >= 0 && !SameLayout(meta, meta_);
    const bool newStream = !SameStream(meta, meta_);
    meta_ = meta;
    lastMeta_ = Clock::now();
    silence_.clear();
    state_.enabled = meta.enabled;
    state_.periodChoice = PeriodChoice(meta);
    state_.phase = meta.streaming ? ReaderPhase::Streaming : ReaderPhase::Stopped;
    state_.message.clear();
    if (newStream) NewStream();
  }
  if (layoutChanged && recording_) {
    EndRecording("the publisher changed the channels or period, so the recording ended");
  }
}

void RemoteViewDevice::OnData(const vornwire::DataMessage &message) {
  const vornwire::DataHeader &h = message.header;
  // meta_ is written only on this thread: read here without the lock.
  const std::int64_t periodDiff = static_cast<std::int64_t>(h.periodUs) - meta_.periodUs;
  if (h.channels != meta_.enabled.size() || periodDiff < -1 || periodDiff > 1) return;
  if (recording_) {
    std::string error;
    if (recording_->Add(message, meta_, error) == RemoteRecording::Result::Failed) EndRecording(error);
  }
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  if (streamSeen_ && h.firstSample < nextSample_) NewStream();  // started anew before its metadata came
  ViewStats &stats = state_.stats;
  if (!streamSeen_) {
    streamSeen_ = true;
    streamFirst_ = h.firstSample;
    nextSample_ = h.firstSample;
    firstHostUs_ = h.firstHostUs;
    block_.firstLine = 0;
  }
  if (h.firstSample > nextSample_) {
    const std::uint64_t hole = h.firstSample - nextSample_;
    stats.missing += static_cast<std::int64_t>(hole);
    const std::size_t held = block_.values.empty() ? 0 : block_.values.front().size();
    if (held > 0 && hole <= kLargestShownHole && held + hole <= DeviceReader::kDisplayLimit) {
      for (auto &column : block_.values) column.insert(column.end(), hole, kNoValue);
    } else {
      block_.skipped += held;
      for (auto &column : block_.values) column.clear();
      block_.firstLine = h.firstSample - streamFirst_;
    }
  }
  const std::size_t channels = h.channels;
  for (std::uint32_t r = 0; r < h.rows; ++r) {
    const bool damaged = message.malformed[r] != 0;
    ++stats.lines;
    if (damaged) ++stats.dropped;
    if (!block_.values.empty() && block_.values.front().size() >= DeviceReader::kDisplayLimit) {
      ++block_.skipped;
      continue;
    }
    for (std::size_t c = 0; c < channels && c < block_.values.size(); ++c) {
      block_.values[c].push_back(damaged ? kNoValue : static_cast<std::int32_t>(message.values[r * channels + c]));
    }
  }
  nextSample_ = h.firstSample + h.rows;
  if (h.rows > 0) {
    block_.lastArrivalMs =
        std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
  }
  stats.seconds = static_cast<double>(h.lastHostUs - firstHostUs_) / 1e6;
  recent_.emplace_back(now, stats.lines);
  while (recent_.size() > 2 && now - recent_.front().first > std::chrono::seconds(1)) recent_.pop_front();
  const double span = std::chrono::duration<double>(now - recent_.front().first).count();
  stats.rate = span > 0 ? static_cast<double>(stats.lines - recent_.front().second) / span : 0;
  if (recording_) state_.recording.lines = recording_->Rows();
}

void RemoteViewDevice::Silent(const std::string &why) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (silence_ == why) return;
  silence_ = why;
  state_.phase = ReaderPhase::Failed;
  state_.message = why;
}

bool RemoteViewDevice::TakeBlock(DisplayBlock &out) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (block_.values.empty() || (block_.values.front().empty() && block_.skipped == 0)) return false;
  out = std::move(block_);
  block_ = DisplayBlock{};
  block_.stream = state_.stream;
  block_.firstLine = streamSeen_ ? nextSample_ - streamFirst_ : 0;
  block_.values.resize(state_.streamed.size());
  return true;
}

void RemoteViewDevice::Send(nlohmann::json request, ControlDone done) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    request["device"] = meta_.serial;
  }
  source_.Link().Request(std::move(request), [done = std::move(done)](const ControlAnswer &answer) {
    done(answer.ok() ? ControlResult{} : ControlResult{answer.status, answer.error, {}});
  });
}

void RemoteViewDevice::Start(ControlDone done) { Send({{"action", "start"}}, std::move(done)); }

void RemoteViewDevice::Stop(ControlDone done) {
  // As for a local device, a stop ends the page's recording first; its
  // lease goes with it, so the publisher does not refuse the stop for it.
  source_.Link().Post([this] { EndRecording(""); });
  Send({{"action", "stop"}}, std::move(done));
}

void RemoteViewDevice::SetChannels(const std::vector<std::int32_t> &positions, ControlDone done) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.recording.active) return done(Refuse(409, "stop the recording before changing the channels"));
  }
  std::vector<std::int32_t> chosen = positions;
  std::sort(chosen.begin(), chosen.end());
  Send({{"action", "channels"}, {"channels", chosen}}, std::move(done));
}

void RemoteViewDevice::SetPeriod(std::size_t choice, ControlDone done) {
  std::int32_t periodUs = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.recording.active) return done(Refuse(409, "stop the recording before changing the period"));
    const DeviceDescription d = DescriptionOf(meta_);
    if (choice >= d.periodsUs.size()) return done(Refuse(400, "the device offers no such period"));
    periodUs = d.periodsUs[choice];
  }
  Send({{"action", "period"}, {"periodUs", periodUs}}, std::move(done));
}

void RemoteViewDevice::StartRecording(const std::string &format, ControlDone done) {
  if (format != "csv" && format != "edf") return done(Refuse(400, "a recording is csv or edf, not '" + format + "'"));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.phase != ReaderPhase::Streaming) {
      return done(Refuse(409, "start device " + std::to_string(index_) + " before recording it"));
    }
    if (state_.recording.active) {
      return done(Refuse(409, "device " + std::to_string(index_) + " is already recording" +
                                  (state_.recording.path.empty() ? "" : " to " + state_.recording.path)));
    }
    // Taken now, so a second request at the same moment is refused.
    state_.recording = RecordingState{true, {}, format, 0, {}};
  }
  source_.Link().Post([this, format, done = std::move(done)] { done(BeginRecording(format)); });
}

void RemoteViewDevice::StopRecording(ControlDone done) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_.recording.active || state_.recording.ending) {
      return done(Refuse(409, "device " + std::to_string(index_) + " is not recording"));
    }
    state_.recording.ending = true;
  }
  source_.Link().Post([this, done = std::move(done)] { done(EndRecording("")); });
}

void RemoteViewDevice::Shutdown() {
  source_.RunAndWait([this] { EndRecording(""); });
}

ControlResult RemoteViewDevice::BeginRecording(const std::string &format) {
  auto giveUp = [this](ControlResult r) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.recording = RecordingState{};
    return r;
  };
  if (recording_) return Refuse(409, "device " + std::to_string(index_) + " is already recording");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.phase != ReaderPhase::Streaming) {
      state_.recording = RecordingState{};
      return Refuse(409, "start device " + std::to_string(index_) + " before recording it");
    }
  }
  std::string path;
  std::string error;
  // A name taken between the look and the creation gets the next one.
  for (int attempt = 0; attempt < 5 && !recording_; ++attempt) {
    path = FreshRecordingPath(recordDir_, meta_.serial, format);
    sink_ = MakeOutputWriter({path, format == "edf" ? OutputKind::Edf : OutputKind::Csv}, false);
    recording_ = std::make_unique<RemoteRecording>(meta_, RecordingHeader{}, std::vector<SampleSink *>{sink_.get()}, 0);
    error.clear();
    if (!recording_->Begin(error)) {
      recording_.reset();
      sink_.reset();
    }
  }
  if (!recording_) return giveUp(Refuse(500, "cannot record to " + path + ": " + error));
  const std::string serial = meta_.serial;
  const std::int64_t periodUs = meta_.periodUs;
  recording_->OnGap([serial, periodUs](std::int64_t sets, const std::string &reason) {
    std::fprintf(stderr, "vornctl: %s: a gap of %lld sample set(s) (%.3f s, %s) in the recording\n", serial.c_str(),
                 static_cast<long long>(sets), static_cast<double>(sets) * static_cast<double>(periodUs) / 1e6,
                 reason.c_str());
  });
  source_.Link().Hold(serial);
  std::lock_guard<std::mutex> lock(mutex_);
  state_.recording.path = path;
  return {0, {}, path};
}

ControlResult RemoteViewDevice::EndRecording(const std::string &why) {
  if (!recording_) return Refuse(409, "device " + std::to_string(index_) + " is not recording");
  std::string error;
  const bool ok = recording_->Finish(StopRequested(), StopSignalName(), error);
  const RecordingSummary summary = recording_->Summary();
  const std::optional<OutputOutcome> outcome = sink_->Outcome();
  recording_.reset();
  sink_.reset();
  source_.Link().Release(meta_.serial);
  std::lock_guard<std::mutex> lock(mutex_);
  RecordingState ended = state_.recording;
  ended.active = false;
  ended.ending = false;
  ended.lines = summary.samples;
  if (outcome) ended.path = outcome->path;
  const std::string holds = outcome ? outcome->holds : std::to_string(summary.samples) + " sample sets";
  const bool written = outcome && outcome->written;
  if (!ok) ended.error = error;
  if (ok && !written) ended.error = PathForMessage(ended.path) + " was not written: " + holds;
  if (!why.empty()) ended.error = ended.error.empty() ? why : why + "; " + ended.error;
  state_.lastRecording = ended;
  state_.recording = RecordingState{};
  if (!why.empty()) state_.message = why;
  const char *serial = meta_.serial.c_str();
  if (!ok) {
    std::fprintf(stderr, "vornctl: %s: %s; %s holds %s\n", serial, error.c_str(), ended.path.c_str(),
                 written ? holds.c_str() : "nothing");
    return {500, "cannot finish " + ended.path + ": " + error, written ? ended.path : std::string()};
  }
  if (!written) {
    std::fprintf(stderr, "vornctl: %s: %s\n", serial, ended.error.c_str());
    return {};
  }
  std::fprintf(stderr, "vornctl: %s: wrote %s (%s)%s%s\n", serial, ended.path.c_str(), holds.c_str(),
               why.empty() ? "" : ": ", why.c_str());
  return {0, {}, ended.path};
}

RemoteSource::RemoteSource(SubscriptionOptions options, PanelList &panels, std::string recordDir)
    : panels_(panels), recordDir_(std::move(recordDir)), subscription_(std::move(options), *this) {}

RemoteSource::~RemoteSource() { Shutdown(); }

bool RemoteSource::Open(std::string &error) {
  if (!subscription_.Open(error)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  running_ = true;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void RemoteSource::Shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  if (thread_.joinable()) thread_.join();
  for (auto &[serial, device] : devices_) {
    (void)serial;
    device->Shutdown();
  }
  subscription_.Close();
}

void RemoteSource::RunAndWait(const std::function<void()> &work) {
  std::promise<void> done;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_ && std::this_thread::get_id() != thread_.get_id()) {
      subscription_.Post([&work, &done] {
        work();
        done.set_value();
      });
    } else {
      work();
      return;
    }
  }
  done.get_future().wait();
}

void RemoteSource::Run() {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point opened = Clock::now();
  bool told = false;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (quit_) {
        running_ = false;
        break;
      }
    }
    subscription_.Poll(kPollMs);
    const Clock::time_point now = Clock::now();
    // After a newer format the panels keep saying so.
    for (auto &[serial, device] : devices_) {
      (void)serial;
      if (!subscription_.Stopped() && now - device->LastHeard() > kSilentAfter) {
        device->Silent("no word from the publisher at " + Url() +
                       " for a few seconds: it may have stopped or be out of reach (vornctl keeps listening)");
      }
    }
    if (!told && devices_.empty() && now - opened > kNothingArrivesAfter) {
      told = true;
      const std::string advice = subscription_.NothingArrivesAdvice();
      std::fprintf(stderr, "vornctl: no device has come from %s yet%s%s\n", Url().c_str(), advice.empty() ? "" : ": ",
                   advice.c_str());
    }
  }
  // Work handed over before the end was seen runs now.
  subscription_.Poll(0);
}

void RemoteSource::OnMeta(const StreamMeta &meta) {
  auto it = devices_.find(meta.serial);
  if (it != devices_.end()) return it->second->OnMeta(meta);
  std::unique_ptr<RemoteViewDevice> device;
  panels_.Add([&](std::int32_t index) {
    device = std::make_unique<RemoteViewDevice>(index, meta, *this, recordDir_);
    return device.get();
  });
  std::fprintf(stderr, "vornctl: device %d is %s on %s (%s %s)\n", device->Index(), meta.serial.c_str(), Url().c_str(),
               meta.product.c_str(), meta.version.c_str());
  devices_[meta.serial] = std::move(device);
}

void RemoteSource::OnData(const vornwire::DataMessage &message) {
  const auto it = devices_.find(message.header.serial);
  if (it != devices_.end()) it->second->OnData(message);
}

void RemoteSource::OnUnreadable(const std::string &serial, const vornwire::DecodeResult &result) {
  if (result.status == vornwire::DecodeStatus::NewerVersion) {
    std::fprintf(stderr, "vornctl: %s: %s\n", Url().c_str(), result.error.c_str());
    for (auto &[s, device] : devices_) {
      (void)s;
      device->Silent(result.error);
    }
    return;
  }
  if (!toldDamaged_) {
    toldDamaged_ = true;
    std::fprintf(stderr, "vornctl: %s: a message from %s could not be read (%s); its lines are a gap\n", serial.c_str(),
                 Url().c_str(), result.error.c_str());
  }
}

}  // namespace vornctl
