// Events and threads of the receive path: auto-reset events with timed waits,
// and one thread per session started at above-normal priority.
#pragma once

#include <atomic>
#include <cstdint>

namespace OpenPlotr {

inline constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;

enum class WaitOutcome { kFirst, kSecond, kTimeout, kFailed };

// Auto-reset, initially not signalled: a wait that returns kFirst has consumed the signal.
class Event {
 public:
  Event();
  ~Event();
  Event(const Event &) = delete;
  Event &operator=(const Event &) = delete;

  // False when the system could not make the event.
  bool Valid() const { return handle != kNoHandle; }
  void Set();
  void Reset();
  // kFirst (signalled), kTimeout or kFailed; 0 does not wait, kWaitForever has no limit.
  WaitOutcome Wait(std::uint32_t timeoutMs);
  // HANDLE on Windows, a pollable descriptor elsewhere; for the port's own wait.
  std::intptr_t Native() const { return handle; }

  static constexpr std::intptr_t kNoHandle = -1;

 private:
  std::intptr_t handle = kNoHandle;
};

// The auto-reset event between the receive thread and the host's reads. Nothing else
// waits on it together with other objects, so where the system allows, it lives in
// memory: a Set with no reader waiting is a store and no system call, and a waiting
// reader is woken without a descriptor to read afterwards.
class DataEvent {
 public:
  DataEvent();
  ~DataEvent();
  DataEvent(const DataEvent &) = delete;
  DataEvent &operator=(const DataEvent &) = delete;

  bool Valid() const;
  void Set();
  void Reset();
  // kFirst (signalled, and the signal consumed), kTimeout or kFailed.
  WaitOutcome Wait(std::uint32_t timeoutMs);

 private:
  std::atomic<std::uint32_t> signalled{0};
  std::atomic<std::uint32_t> waiting{0};
  std::intptr_t handle = Event::kNoHandle;  // where the system's own event is used instead
};

// Waits until either event is signalled and consumes that one; the first wins a tie.
WaitOutcome WaitForEither(Event &first, Event &second, std::uint32_t timeoutMs);

class Thread {
 public:
  using Body = std::uint32_t (*)(void *argument);

  Thread() = default;
  // A thread still known here is let go of as by Abandon: its owner did not stop it.
  ~Thread();
  Thread(const Thread &) = delete;
  Thread &operator=(const Thread &) = delete;

  // Starts body(argument) at above-normal priority; false when no thread could be made
  // (or a thread of an earlier start is still known).
  bool Start(Body body, void *argument);
  bool Exists() const { return started_; }
  // Waits at most timeoutMs until the body has returned and the thread runs no more of
  // the library's code (the library may be unmapped next), then lets go of it; false
  // when it has not got that far. Under the loader lock (Windows module detach) a
  // thread cannot finish exiting, so only its leaving the library's code is awaited.
  bool Join(std::uint32_t timeoutMs, bool loaderLockHeld = false);
  // Lets go of a thread that is still running past every bound. What it uses must be
  // left to it; the library is pinned in the process so that no unload unmaps the
  // code it runs.
  void Abandon();
  // Forgets a thread that is gone already (the process is exiting) without a wait.
  void Forget();

 private:
  friend struct ThreadLauncher;
  std::intptr_t handle = 0;
  // Windows: set as the thread's very last act, by code outside the library.
  std::intptr_t leftLibrary = 0;
  bool started_ = false;
  Body body_ = nullptr;
  void *argument_ = nullptr;
};

// Keeps the library mapped until the process ends, whatever the host unloads.
void PinLibrary();

void SleepMs(std::uint32_t ms);
// A monotonic clock in milliseconds, for bounds that span several waits.
std::uint64_t MonotonicMs();

}  // namespace OpenPlotr
