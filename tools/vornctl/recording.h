// What a recording hands to its outputs (CSV, EDF+, plot, summary).
#pragma once

#include <cstdint>
#include <ctime>
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
  // The run's start by the wall clock; every device of one run shares it,
  // and host times count from it.
  std::time_t startTime = 0;
  int startMilliseconds = 0;
  std::string subject;    // EDF+ patient field; empty: not given
  std::string recording;  // EDF+ recording text; empty: not given
};

// "2026-12-09T12:08:00.123Z": the start as ISO 8601, in UTC.
std::string IsoStartTime(const RecordingHeader &header);
// The run's start now, by the wall clock.
void StampStartTime(RecordingHeader &header);

struct RecordingSummary {
  std::int64_t samples = 0;  // sample sets, lost ones included
  std::int64_t dropped = 0;  // lines that did not parse
  std::int64_t missing = 0;  // sample sets the clock says never arrived (an estimate)
  double seconds = 0;        // from the first line to the last, by the host's clock
  bool interrupted = false;
  std::string stopSignal;  // "Ctrl-C" or "SIGTERM" when interrupted
  bool started = false;    // the device began streaming
};

// One output. Sample n of the recording is at time n * periodUs.
class SampleSink {
 public:
  virtual ~SampleSink() = default;
  virtual bool Begin(const RecordingHeader &header, std::string &error) = 0;
  // values holds one scaled value per channel; null marks a sample set whose
  // line arrived damaged, so its time slot is kept but holds no values.
  // hostSeconds: the host's clock when the line arrived, from the start.
  virtual bool Add(const std::vector<std::int32_t> *values, double hostSeconds, std::string &error) = 0;
  // Something that happened before sample `atSample` (a reconnection).
  virtual bool Note(std::int64_t atSample, const std::string &text, std::string &error) {
    (void)atSample;
    (void)text;
    (void)error;
    return true;
  }
  virtual bool Finish(const RecordingSummary &summary, std::string &error) = 0;
};

}  // namespace vornctl
