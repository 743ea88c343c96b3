// Lets a thread that polls a field shared with another thread wake as soon as
// that thread changes it, while the polling loops keep every deadline.
#pragma once

#include <chrono>
#include <memory>

namespace OpenPlotr {

class ChangeSignal {
 public:
  ChangeSignal();
  ~ChangeSignal();
  ChangeSignal(const ChangeSignal &) = delete;
  ChangeSignal &operator=(const ChangeSignal &) = delete;

  // Called after a protocol field changed.
  void Notify();

  // Waits at most timeout for ready() to hold; returns ready().
  template <typename Ready>
  bool WaitFor(Ready ready, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Lock();
    while (!ready()) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) break;
      WaitLocked(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) + std::chrono::milliseconds(1));
    }
    Unlock();
    return ready();
  }

 private:
  // Platform half: a lock and a condition with a bounded wait (the Windows one
  // uses the system's own primitives rather than the threading runtime's).
  struct Impl;
  void Lock();
  void Unlock();
  void WaitLocked(std::chrono::milliseconds timeout);
  std::unique_ptr<Impl> impl_;
};

}  // namespace OpenPlotr
