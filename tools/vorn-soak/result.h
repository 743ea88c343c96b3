// One scenario's outcome, and the resource counts before and after it.
#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tools/hostcheck/host_resources.h"

namespace vorn_soak {

using Clock = std::chrono::steady_clock;

// Resident memory may move by allocator bookkeeping; descriptors and threads may not move at all.
constexpr long kResidentToleranceKiB = 1024;

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }
inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct Result {
  std::string name;
  std::string unit;  // what count means
  long requested = 0;
  long survived = 0;
  long linesChecked = 0;
  long linesLost = 0;  // expected lines not delivered inside the delivered run
  long faults = 0;
  std::string faultUnit;
  long leaks = 0;
  Resources before, after;
  double seconds = 0;
  std::vector<std::string> failures;
  std::vector<std::string> notes;
  void Fail(const std::string &why) {
    if (failures.size() < 20) failures.push_back(why);
  }
};

// After closing, a receive thread may take a moment to finish: wait a bounded time for the counts to settle.
Resources Settled(const Resources &before);
// Records growth of threads, descriptors or resident memory as leaks.
void CompareResources(Result &r);

}  // namespace vorn_soak
