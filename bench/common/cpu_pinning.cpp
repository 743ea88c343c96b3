#include "common/cpu_pinning.h"

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

namespace vorn_bench {

namespace {

// Moves a thread to one CPU; false where that cannot be done (one CPU, a restricted set).
bool PinThread(pid_t tid, int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return sched_setaffinity(tid, sizeof set, &set) == 0;
}

void Unpin(pid_t tid) {
  cpu_set_t all;
  CPU_ZERO(&all);
  for (unsigned cpu = 0; cpu < std::thread::hardware_concurrency() && cpu < CPU_SETSIZE; ++cpu) CPU_SET(cpu, &all);
  sched_setaffinity(tid, sizeof all, &all);
}

}  // namespace

pid_t ThisThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

std::set<pid_t> ThreadIds() {
  std::set<pid_t> ids;
  for (const auto &entry : std::filesystem::directory_iterator("/proc/self/task")) {
    ids.insert(static_cast<pid_t>(std::stoi(entry.path().filename().string())));
  }
  return ids;
}

pid_t NewThreadSince(const std::set<pid_t> &before) {
  pid_t found = 0;
  for (const pid_t id : ThreadIds()) {
    if (!before.count(id)) found = id;
  }
  return found;
}

CpuSwap::CpuSwap() : enabled_(std::thread::hardware_concurrency() >= 2), owner_(ThisThreadId()) {}

CpuSwap::~CpuSwap() {
  if (calls_ > 0) Unpin(owner_);
}

void CpuSwap::Next(std::initializer_list<pid_t> readers, std::initializer_list<pid_t> others) {
  if (!enabled_) return;
  const int readerCpu = static_cast<int>(calls_++ % 2);
  for (const pid_t tid : readers) enabled_ = enabled_ && PinThread(tid, readerCpu);
  for (const pid_t tid : others) enabled_ = enabled_ && PinThread(tid, 1 - readerCpu);
}

}  // namespace vorn_bench
