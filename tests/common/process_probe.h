// What the process holds, for checks that loading and unloading leaks nothing.
#pragma once

namespace vorn_test {

struct ProcessCounts {
  long threads = 0;
  long handles = 0;  // open descriptors on Linux, kernel handles on Windows
};

ProcessCounts CountProcessResources();

}  // namespace vorn_test
