// What a finished recording tells the user on stderr, the same for a local
// device and a publisher's: its sample sets, gaps and losses, then what each
// file holds, said from the file's side.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/vornctl/recording.h"

namespace vornctl {

// who: "" for a lone recording, else "device 0 (VSC1): ". failed: error is
// said and the files "hold what was recorded until then".
void ReportRecording(const std::string &who, const RecordingSummary &summary, bool failed, const std::string &error,
                     const std::vector<std::optional<OutputOutcome>> &outcomes);

}  // namespace vornctl
