#include "tools/vornctl/recording_report.h"

#include <cstdio>

#include "tools/vornctl/commands.h"
#include "tools/vornctl/output_file.h"

namespace vornctl {

void ReportRecording(const std::string &who, const RecordingSummary &summary, bool failed, const std::string &error,
                     const std::vector<std::optional<OutputOutcome>> &outcomes) {
  if (summary.started) {
    std::string gaps;
    if (summary.gaps > 0) {
      char text[96];
      std::snprintf(text, sizeof text, ", %lld gap(s) of %lld sample set(s) in all",
                    static_cast<long long>(summary.gaps), static_cast<long long>(summary.gapSets));
      gaps = text;
    }
    std::fprintf(stderr, "vornctl: %s%lld sample set(s), %.3f s of data, %lld dropped, %lld missing%s\n", who.c_str(),
                 static_cast<long long>(summary.samples), summary.seconds, static_cast<long long>(summary.dropped),
                 static_cast<long long>(summary.missing), gaps.c_str());
  }
  if (failed) {
    Complain(who + error);
  } else if (summary.missing > 0) {
    Complain("warning: " + who + std::to_string(summary.missing) +
             " sample set(s) that the period and the clock expected never arrived");
  }
  // After a failure the files hold what reached the disk, not what was read.
  for (const std::optional<OutputOutcome> &outcome : outcomes) {
    if (!outcome) continue;
    if (!outcome->written) {
      if (summary.started) Complain(who + PathForMessage(outcome->path) + " was not written: " + outcome->holds);
    } else if (failed) {
      Complain(who + PathForMessage(outcome->path) + " holds what was recorded until then: " + outcome->holds);
    } else {
      std::fprintf(stderr, "vornctl: wrote %s (%s)\n", outcome->path.c_str(), outcome->holds.c_str());
    }
  }
}

}  // namespace vornctl
