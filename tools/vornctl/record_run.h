// A recording from the command line's point of view: which devices, which
// channels and period, where the samples go; shared by record and demo.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/vornctl/commands.h"
#include "tools/vornctl/recording.h"

namespace vornctl {

struct RecordPlan {
  std::vector<std::string> devices = {"0"};  // indexes or serial texts
  bool allDevices = false;
  std::string channels = "all";
  std::string period = "fastest";
  double seconds = 0;  // of data; 0: until Ctrl-C
  bool blockMode = false;
  bool progress = true;
  bool reconnect = false;
  std::vector<std::string> outputs;  // CSV, or EDF+ by extension; "-" is stdout
  std::string plot;                  // SVG, optional
  bool force = false;                // replace existing files and links (--force)
  std::string subject;               // subject code: EDF+ patient code
  std::string subjectName;           // EDF+ patient name
  std::string recording;             // EDF+ recording text
};

// Checks the outputs, finds and describes the devices, records each on a
// thread of its own, reports on stderr; the exit status. extraSinks see the
// samples too (the demo's summary); only with a single device.
int RunRecordPlan(Context &context, const RecordPlan &plan, const std::vector<SampleSink *> &extraSinks);

}  // namespace vornctl
