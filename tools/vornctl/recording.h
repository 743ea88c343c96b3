// What a recording hands to its outputs (CSV, EDF+, plot, summary).
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "tools/vornctl/channel_info.h"
#include "tools/vornctl/device_description.h"

namespace vornctl {

struct RecordingHeader {
  DeviceIdentity identity;
  std::vector<ChannelInfo> channels;  // the recorded ones, in the order of the values
  std::int32_t listedPeriodUs = 0;    // as the driver lists it
  std::int64_t periodUs = 0;          // the period the device samples at
  // The recording's start, the moment its first line arrived (until then the
  // moment the outputs began): by the wall clock, and by the host's
  // monotonic clock, which every recording on this machine shares.
  std::time_t startTime = 0;
  int startMilliseconds = 0;
  double monotonicStart = 0;  // seconds since the monotonic clock's epoch
  std::string subject;        // subject code (EDF+ patient code); empty: not given
  std::string subjectName;    // EDF+ patient name; empty: not given
  std::string recording;      // EDF+ recording text; empty: not given
};

// "2026-12-09T12:08:00.123Z": the start as ISO 8601, in UTC.
std::string IsoStartTime(const RecordingHeader &header);
// The start now, by both clocks.
void StampStartTime(RecordingHeader &header);
void StampStartTime(RecordingHeader &header, std::chrono::steady_clock::time_point monotonicNow);
// The broken-down start in the local time zone (any thread may ask).
std::tm LocalStartTime(const RecordingHeader &header);

struct RecordingSummary {
  std::int64_t samples = 0;  // sample sets received (rows), damaged ones included
  std::int64_t dropped = 0;  // lines that did not parse
  std::int64_t missing = 0;  // sample sets the clock says never arrived and no gap accounts for (an estimate)
  std::int64_t gaps = 0;     // gaps declared
  std::int64_t gapSets = 0;  // sample sets those gaps lasted
  double seconds = 0;        // of data: samples * period
  bool interrupted = false;
  std::string stopSignal;  // "Ctrl-C" or "SIGTERM" when interrupted
  bool started = false;    // the device began streaming
};

// What an output left on disk, for the closing messages.
struct OutputOutcome {
  std::string path;
  bool written = false;  // the file is there under its own name
  std::string holds;     // "1449 rows, 2.898 s", or why nothing was written
};

// One output. Sample n of the recording is at time n * periodUs.
class SampleSink {
 public:
  virtual ~SampleSink() = default;
  // Before the device streams: files are created here, so a file that cannot
  // be made costs no recording.
  virtual bool Begin(const RecordingHeader &header, std::string &error) = 0;
  // The first line arrived; header carries the recording's start. Called
  // once before the first Add, never for a recording without lines.
  virtual bool Start(const RecordingHeader &header, std::string &error) {
    (void)header;
    (void)error;
    return true;
  }
  // values holds one scaled value per channel; null marks a sample set whose
  // line arrived damaged, so its time slot is kept but holds no values.
  // hostSeconds: the host's clock when the line arrived, from the start.
  virtual bool Add(const std::vector<std::int32_t> *values, double hostSeconds, std::string &error) = 0;
  // `sets` sample sets that never came go before the next one; reason is a
  // word ("reconnect", "lost", or the sender's own for a network feed).
  virtual bool Gap(std::int64_t sets, const std::string &reason, std::string &error) {
    (void)sets;
    (void)reason;
    (void)error;
    return true;
  }
  virtual bool Finish(const RecordingSummary &summary, std::string &error) = 0;
  // For outputs that are files: where, and what it holds (after Finish, or
  // after a failure, what it held then).
  virtual std::optional<OutputOutcome> Outcome() const { return std::nullopt; }
};

}  // namespace vornctl
