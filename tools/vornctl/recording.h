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
  std::time_t startTime = 0;
};

struct RecordingSummary {
  std::int64_t samples = 0;   // sample sets, lost ones included
  std::int64_t dropped = 0;   // lines that did not parse
  std::int64_t missing = 0;   // sample sets the clock says never arrived (an estimate)
  double seconds = 0;         // from start to stop, by the host's clock
  bool interrupted = false;
  bool started = false;       // the device began streaming
};

// One output. Sample n of the recording is at time n * periodUs.
class SampleSink {
 public:
  virtual ~SampleSink() = default;
  virtual bool Begin(const RecordingHeader &header, std::string &error) = 0;
  // values holds one scaled value per channel; null marks a sample set whose
  // line arrived damaged, so its time slot is kept but holds no values.
  virtual bool Add(const std::vector<std::int32_t> *values, std::string &error) = 0;
  virtual bool Finish(const RecordingSummary &summary, std::string &error) = 0;
};

}  // namespace vornctl
