// One recording: enable the channels, select the period, start, read the
// sample lines until the time is up or Ctrl-C, stop, close the driver.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/hostlib/vorn_library.h"
#include "tools/vornctl/device_description.h"
#include "tools/vornctl/recording.h"

namespace vornctl {

struct RecordRequest {
  std::vector<std::int32_t> positions;  // channels to record, increasing
  std::size_t periodChoice = 0;         // index into the device's period list
  double seconds = 0;                   // 0: until Ctrl-C
  bool blockMode = false;               // ReadBuffer instead of ReadLine
  bool liveProgress = false;
};

enum class RecordStatus { Completed, Interrupted, Failed };

RecordStatus Record(const vorn_host::VornLibrary &lib, const DeviceDescription &device, const RecordRequest &request,
                    const std::vector<SampleSink *> &sinks, RecordingSummary &summary, std::string &error);

// Sample sets the host's clock expected but never saw, ignoring what the
// start-up latency and the reads still in flight can explain.
std::int64_t MissingEstimate(double seconds, std::int64_t periodUs, std::int64_t received);

}  // namespace vornctl
