#include <cstdio>

#include "tools/vorn-soak/report.h"

namespace vorn_soak {

void PrintTable(const std::vector<Result> &results) {
  std::printf("\n%-18s %9s %9s %10s %6s %8s %5s %9s %9s %15s %6s\n", "scenario", "count", "survived", "lines", "lost",
              "faults", "leaks", "threads", "fds", "rss KiB", "result");
  for (const Result &r : results) {
    char threads[32], fds[32], rss[40];
    std::snprintf(threads, sizeof threads, "%ld>%ld", r.before.threads, r.after.threads);
    std::snprintf(fds, sizeof fds, "%ld>%ld", r.before.descriptors, r.after.descriptors);
    std::snprintf(rss, sizeof rss, "%ld>%ld", r.before.residentKiB, r.after.residentKiB);
    std::printf("%-18s %9ld %9ld %10ld %6ld %8ld %5ld %9s %9s %15s %6s\n", r.name.c_str(), r.requested, r.survived,
                r.linesChecked, r.linesLost, r.faults, r.leaks, threads, fds, rss, r.failures.empty() ? "ok" : "FAIL");
  }
  for (const Result &r : results) {
    for (const std::string &n : r.notes) std::printf("  %s: %s\n", r.name.c_str(), n.c_str());
    for (const std::string &f : r.failures) std::printf("  %s FAILED: %s\n", r.name.c_str(), f.c_str());
  }
}

}  // namespace vorn_soak
