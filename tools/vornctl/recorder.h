// One device's recording: enable the channels, select the period, start,
// read the sample lines until the data cover the time asked for or Ctrl-C,
// stop. Each device of a run can record on a thread of its own; the caller
// closes the driver (CloseAll) once every recording has ended.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/hostlib/vorn_library.h"
#include "tools/vornctl/device_description.h"
#include "tools/vornctl/recording.h"

namespace vornctl {

using HostClock = std::chrono::steady_clock;

struct RecordRequest {
  std::vector<std::int32_t> positions;  // channels to record, in the order of the files' columns
  std::size_t periodChoice = 0;         // index into the device's period list
  double seconds = 0;                   // of data; 0: until Ctrl-C
  bool blockMode = false;               // ReadBuffer instead of ReadLine
  bool liveProgress = false;
  bool reconnect = false;  // look for a device that went away again
};

enum class RecordStatus { Completed, Interrupted, Failed };

// Enables the chosen channels (and disables the rest), selects the period
// and fills the header the outputs begin with (start time not stamped).
bool PrepareRecording(const vorn_host::VornLibrary &lib, const DeviceDescription &device, const RecordRequest &request,
                      RecordingHeader &header, std::string &error);

// Prepare, begin the sinks, stream, stop, finish the sinks (every sink that
// began is finished, whatever happens). header carries the EDF+ texts; the
// rest is filled here, the start when the first line arrives.
RecordStatus Record(const vorn_host::VornLibrary &lib, const DeviceDescription &device, const RecordRequest &request,
                    RecordingHeader header, const std::vector<SampleSink *> &sinks, RecordingSummary &summary,
                    std::string &error);

// Sample sets the host's clock expected but never saw between the first
// line and the last, ignoring what the reads still in flight can explain.
std::int64_t MissingEstimate(double seconds, std::int64_t periodUs, std::int64_t received);

// Where each value of a host line (positions increasing) goes in the
// files' column order.
std::vector<std::size_t> ColumnOrder(const std::vector<std::int32_t> &positions);

}  // namespace vornctl
