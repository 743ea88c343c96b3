// A recording from the command line's point of view: which device, which
// channels and period, where the samples go; shared by record and demo.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/vornctl/commands.h"
#include "tools/vornctl/recording.h"

namespace vornctl {

struct RecordPlan {
  std::int32_t device = 0;
  std::string channels = "all";
  std::string period = "fastest";
  double seconds = 0;  // 0: until Ctrl-C
  bool blockMode = false;
  bool progress = true;
  std::vector<std::string> outputs;  // CSV, or EDF+ by extension; "-" is stdout
  std::string plot;                  // SVG, optional
};

// Describes the device, records, reports on stderr; the exit status.
// extraSinks see the samples too (the demo's summary).
int RunRecordPlan(Context &context, const RecordPlan &plan, const std::vector<SampleSink *> &extraSinks);

}  // namespace vornctl
