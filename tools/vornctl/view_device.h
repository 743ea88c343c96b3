// One device of `vornctl view`: a worker thread that owns every export call
// on the session (the driver allows one call per session at a time), keeps
// the receive ring drained whatever the page does, feeds a recording and
// collects the decoded lines for the page.
#pragma once

#include <atomic>
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
#include "tools/vornctl/recording.h"

namespace vornctl {

enum class ViewPhase { Stopped, Starting, Streaming, Stopping, Failed };
const char *PhaseName(ViewPhase phase);

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
struct ViewDeviceState {
  ViewPhase phase = ViewPhase::Stopped;
  std::string message;                // why it failed, or the last control error of the worker
  std::vector<std::int32_t> enabled;  // positions, increasing
  std::size_t periodChoice = 0;
  std::uint32_t stream = 0;
  std::vector<std::int32_t> streamed;  // positions of the running stream's values
  ViewStats stats;
  RecordingState recording;
  RecordingState lastRecording;  // the one that ended last
};

class ViewDevice {
 public:
  // description empty: the device did not come up; failure says why.
  ViewDevice(const vorn_host::VornLibrary &lib, std::int32_t index, std::optional<DeviceDescription> description,
             std::string failure, std::string recordDir);
  ~ViewDevice();
  ViewDevice(const ViewDevice &) = delete;
  ViewDevice &operator=(const ViewDevice &) = delete;

  std::int32_t Index() const { return index_; }
  const DeviceIdentity &Identity() const { return identity_; }
  // Channels and periods as the device described them (empty when it failed).
  const DeviceDescription &Description() const { return description_; }
  ViewDeviceState State() const;

  // Controls, from any thread. Each checks the request first and touches
  // nothing when it is wrong; the worker then does the calls, and no caller
  // waits for them.
  void Start(ControlDone done);
  void Stop(ControlDone done);
  void SetChannels(const std::vector<std::int32_t> &positions, ControlDone done);
  void SetPeriod(std::size_t choice, ControlDone done);
  void StartRecording(const std::string &format, ControlDone done);
  void StopRecording(ControlDone done);

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
  void RecordLine(const std::vector<std::int32_t> *values, std::string &sinkError);
  void CatchUpRecording(std::string &sinkError);

  const vorn_host::VornLibrary &lib_;
  const std::int32_t index_;
  DeviceIdentity identity_;
  DeviceDescription description_;
  const std::string recordDir_;

  mutable std::mutex mutex_;  // guards state_, jobs_, block_
  std::condition_variable wake_;
  ViewDeviceState state_;
  std::deque<Job> jobs_;
  DisplayBlock block_;
  bool quit_ = false;

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
