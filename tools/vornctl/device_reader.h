// The one reader of a device, for every program that drains devices (view,
// serve): a worker thread owns every export call on the session (the driver
// allows one call per session at a time) and keeps the receive ring drained
// whatever its consumers do. Its consumers are the page's display block, a
// recording, and any ReaderConsumer added (the publisher).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/hostlib/vorn_library.h"
#include "tools/vornctl/device_description.h"
#include "tools/vornctl/line_source.h"
#include "tools/vornctl/recording.h"

namespace vornctl {

enum class ReaderPhase { Stopped, Starting, Streaming, Stopping, Failed };
const char *PhaseName(ReaderPhase phase);

// The answer to a control request: 0 is success, else an HTTP status and the
// text the page shows.
struct ControlResult {
  int status = 0;
  std::string error;
  std::string path;  // the finished recording's file
  bool ok() const { return status == 0; }
};
// Called once with a control's result: at once for a refusal, else from the
// device's worker when it has acted. It must not block.
using ControlDone = std::function<void(const ControlResult &)>;

// Decoded lines not yet sent to the page. values[c] holds channel c's scaled
// values; a damaged line holds kNoValue in every channel.
struct DisplayBlock {
  std::uint64_t firstLine = 0;  // line number (from the start of the stream) of values[c][0]
  std::uint32_t stream = 0;     // counts starts, so the page knows when to begin anew
  std::vector<std::vector<std::int32_t>> values;
  double lastArrivalMs = 0;  // wall clock (ms since the epoch) of the newest line's read
  std::size_t skipped = 0;   // lines left out because the page's buffer was full
};
constexpr std::int32_t kNoValue = INT32_MIN;

// The lines of one read of the device, in order, as consumers get them.
struct LineBatch {
  using Clock = std::chrono::steady_clock;
  std::uint32_t stream = 0;           // counts starts
  std::int64_t periodUs = 0;          // the stream's nominal period
  std::size_t channels = 0;           // values per line: the streamed channels, positions increasing
  std::vector<Clock::time_point> at;  // when each line was taken
  // Each line's sample index from the stream's first line, counting the sets
  // of gaps (the recorder's rule), so a jump between two lines is a gap.
  std::vector<std::int64_t> sample;
  std::vector<std::uint8_t> damaged;  // 1: not a sample line; its values are 0
  std::vector<std::int32_t> values;   // lines by channels
  std::size_t Lines() const { return at.size(); }
  void Clear();
  void Add(Clock::time_point when, std::int64_t index, const std::vector<std::int32_t> *lineValues);
};

class DeviceReader;

// A program's share of a reader's stream. Both calls must return quickly and
// never call the reader's controls.
class ReaderConsumer {
 public:
  virtual ~ReaderConsumer() = default;
  // Every read, on the reader's thread; also an empty batch about every 20 ms
  // while streaming, so a consumer can send what it holds by time.
  virtual void Lines(const DeviceReader &reader, const LineBatch &batch) = 0;
  // The phase, channels or period changed (State() shows the new ones). From
  // the reader's thread, or from a control's caller for a stopped device.
  virtual void Changed(const DeviceReader &reader) = 0;
};

struct ViewStats {
  std::int64_t lines = 0;
  std::int64_t dropped = 0;
  std::int64_t missing = 0;
  double seconds = 0;
  double rate = 0;  // lines per second over the last second
};

struct RecordingState {
  bool active = false;  // from the request on (path empty until the file is open)
  std::string path;
  std::string format;
  std::int64_t lines = 0;
  std::string error;
  bool ending = false;  // an end was asked for
};

// A snapshot for the page's device panel.
struct ReaderState {
  ReaderPhase phase = ReaderPhase::Stopped;
  std::string message;                // why it failed, or the last control error of the worker
  std::vector<std::int32_t> enabled;  // positions, increasing
  std::size_t periodChoice = 0;
  std::uint32_t stream = 0;
  std::vector<std::int32_t> streamed;  // positions of the running stream's values
  ViewStats stats;
  RecordingState recording;
  RecordingState lastRecording;  // the one that ended last
};

class DeviceReader {
 public:
  // description empty: the device did not come up; failure says why.
  DeviceReader(const vorn_host::VornLibrary &lib, std::int32_t index, std::optional<DeviceDescription> description,
               std::string failure, std::string recordDir);
  ~DeviceReader();
  DeviceReader(const DeviceReader &) = delete;
  DeviceReader &operator=(const DeviceReader &) = delete;

  std::int32_t Index() const { return index_; }
  const DeviceIdentity &Identity() const { return identity_; }
  // Channels and periods as the device described them (empty when it failed).
  const DeviceDescription &Description() const { return description_; }
  ReaderState State() const;

  // Controls, from any thread. Each checks the request first and touches
  // nothing when it is wrong; the worker then does the calls, and no caller
  // waits for them.
  void Start(ControlDone done);
  void Stop(ControlDone done);
  void SetChannels(const std::vector<std::int32_t> &positions, ControlDone done);
  void SetPeriod(std::size_t choice, ControlDone done);
  void StartRecording(const std::string &format, ControlDone done);
  void StopRecording(ControlDone done);

  // Before the first control; the consumer must outlive the reader's Shutdown.
  void AddConsumer(ReaderConsumer *consumer);

  // What arrived since the last call; false when nothing did.
  bool TakeBlock(DisplayBlock &out);
  // Stops the stream, ends the recording (its path on stderr), ends the worker.
  void Shutdown();

  // Lines kept for the page between two takes; more are skipped, the recording keeps them all.
  static constexpr std::size_t kDisplayLimit = 20000;

 private:
  struct Job {
    std::function<ControlResult()> work;
    ControlDone done;
  };
  void Submit(std::function<ControlResult()> work, ControlDone done);
  void Run();
  void ReadLines();
  ControlResult DoStart();
  ControlResult DoStop();
  ControlResult DoStartRecording(const std::string &format);
  ControlResult DoStopRecording();
  void Fail(const std::string &message);
  ControlResult CheckChannels(const std::vector<std::int32_t> &chosen) const;
  bool BeginChange(const char *what, ControlResult &refused, bool &restart, const std::function<void()> &applyNow);
  // A new name in the recording folder.
  std::string RecordingPath(const std::string &format) const;
  void RecordLine(const std::vector<std::int32_t> *values, std::chrono::steady_clock::time_point at, bool overflowed,
                  std::string &sinkError);
  // One line for the batch, the stream's clock and the recording.
  void TakeLine(LineSource::Result result, const std::string &line, std::size_t expected,
                std::vector<std::int32_t> &values, std::string &sinkError);
  void HandLines();
  void NotifyChanged();
  void CatchUpRecording(std::string &sinkError);

  const vorn_host::VornLibrary &lib_;
  const std::int32_t index_;
  DeviceIdentity identity_;
  DeviceDescription description_;
  const std::string recordDir_;

  mutable std::mutex mutex_;  // guards state_, jobs_, block_
  std::condition_variable wake_;
  ReaderState state_;
  std::deque<Job> jobs_;
  DisplayBlock block_;
  bool quit_ = false;
  std::vector<ReaderConsumer *> consumers_;

  // The worker's own.
  struct Stream;
  std::unique_ptr<Stream> stream_;
  std::unique_ptr<SampleSink> sink_;
  RecordingHeader header_;
  std::thread worker_;
};

// A control's result, waited for (for callers that may block, such as --start).
ControlResult AwaitControl(const std::function<void(ControlDone)> &control);

}  // namespace vornctl
