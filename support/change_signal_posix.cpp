#include <condition_variable>
#include <mutex>

#include "support/change_signal.h"

namespace OpenPlotr {

struct ChangeSignal::Impl {
  std::mutex mutex;
  std::condition_variable changed;
  std::unique_lock<std::mutex> held{mutex, std::defer_lock};
};

ChangeSignal::ChangeSignal() : impl_(std::make_unique<Impl>()) {}
ChangeSignal::~ChangeSignal() = default;

void ChangeSignal::Notify() {
  // Taking the lock orders the change before a waiter's next check.
  { std::lock_guard<std::mutex> lock(impl_->mutex); }
  impl_->changed.notify_all();
}

void ChangeSignal::Lock() { impl_->held.lock(); }
void ChangeSignal::Unlock() { impl_->held.unlock(); }
void ChangeSignal::WaitLocked(std::chrono::milliseconds timeout) { impl_->changed.wait_for(impl_->held, timeout); }

}  // namespace OpenPlotr
