// Where the benchmarks put their threads. Threads hardly ever migrate here, and
// the two CPUs of a shared machine differ a lot in what a wake-up costs, so a
// benchmark puts the reading threads on one CPU and the threads that wake them
// (or that they wake) on the other, and swaps the two now and then, so that
// the driver and its baselines meet both CPUs alike.
#pragma once

#include <sys/types.h>

#include <initializer_list>
#include <set>

namespace vorn_bench {

// The calling thread's id, as /proc/self/task names it.
pid_t ThisThreadId();
// The ids of this process's threads now.
std::set<pid_t> ThreadIds();
// A thread of this process that is not in before; 0 when there is none.
pid_t NewThreadSince(const std::set<pid_t> &before);

class CpuSwap {
 public:
  CpuSwap();
  ~CpuSwap();  // the calling thread gets every CPU back
  CpuSwap(const CpuSwap &) = delete;
  CpuSwap &operator=(const CpuSwap &) = delete;

  // Pins readers to one CPU and others to the other, the two swapped at every
  // call. Does nothing with fewer than two CPUs, and from the first thread that
  // cannot be pinned (a restricted set) on.
  void Next(std::initializer_list<pid_t> readers, std::initializer_list<pid_t> others);

 private:
  bool enabled_;
  unsigned long calls_ = 0;
  pid_t owner_;
};

}  // namespace vorn_bench
