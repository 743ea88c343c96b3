// A lock around a few instructions that blocks instead of spinning: a waiter at
// raised priority (a receive thread) must not keep the CPU from a preempted
// holder (a host thread), which on one CPU only the system's starvation boost
// would end, seconds later. The system's own lock: an SRWLOCK on Windows (not the
// threading runtime, whose per-thread records outlive an unloaded library), a
// futex word elsewhere.
#pragma once

#include <cstdint>

namespace OpenPlotr {

class SlimLock {
 public:
  constexpr SlimLock() = default;
  SlimLock(const SlimLock &) = delete;
  SlimLock &operator=(const SlimLock &) = delete;

  // For std::lock_guard.
  void lock();
  void unlock();

 private:
  // Zero when free on both systems; room and alignment for an SRWLOCK.
  alignas(std::uintptr_t) std::uint32_t word_[sizeof(std::uintptr_t) / sizeof(std::uint32_t)] = {};
};

}  // namespace OpenPlotr
