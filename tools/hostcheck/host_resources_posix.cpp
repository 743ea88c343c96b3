#include "tools/hostcheck/host_resources.h"

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>

namespace vorn_soak {

namespace {
long CountEntries(const char *dir) {
  long n = 0;
  if (DIR *d = opendir(dir)) {
    while (const dirent *e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

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

long CountThreads() { return CountEntries("/proc/self/task"); }

// The counting itself holds one descriptor for the directory it reads.
long CountDescriptors() { return CountEntries("/proc/self/fd") - 1; }

Resources MeasureResources() {
  // The host's own line buffers are freed before each measurement; give their pages back so
  // that only what is still held shows.
  malloc_trim(0);
  return {CountThreads(), CountDescriptors(), ResidentKiB()};
}

}  // namespace vorn_soak
