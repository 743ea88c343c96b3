#include "soak/soak_resources.h"

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/process_probe.h"

namespace vorn_soak {

namespace {
long ResidentKiB() {
  long kib = -1;
  if (std::FILE *f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
      if (std::strncmp(line, "VmRSS:", 6) == 0) {
        kib = std::strtol(line + 6, nullptr, 10);
        break;
      }
    }
    std::fclose(f);
  }
  return kib;
}
}  // namespace

Resources MeasureResources() {
  // The soak's own line buffers are freed before each measurement; give their pages back so
  // that only what is still held shows.
  malloc_trim(0);
  const vorn_test::ProcessCounts c = vorn_test::CountProcessResources();
  // The counting itself holds one descriptor for the directory it reads.
  return {c.threads, c.handles - 1, ResidentKiB()};
}

}  // namespace vorn_soak
