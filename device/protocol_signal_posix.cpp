#include <condition_variable>
#include <mutex>

#include "device/protocol_signal.h"

namespace OpenPlotr {

struct ProtocolSignal::Impl {
  std::mutex mutex;
  std::condition_variable changed;
  std::unique_lock<std::mutex> held{mutex, std::defer_lock};
};

ProtocolSignal::ProtocolSignal() : impl_(std::make_unique<Impl>()) {}
ProtocolSignal::~ProtocolSignal() = default;

void ProtocolSignal::Notify() {
  // Taking the lock orders the change before a waiter's next check.
  { std::lock_guard<std::mutex> lock(impl_->mutex); }
  impl_->changed.notify_all();
}

void ProtocolSignal::Lock() { impl_->held.lock(); }
void ProtocolSignal::Unlock() { impl_->held.unlock(); }
void ProtocolSignal::WaitLocked(std::chrono::milliseconds timeout) { impl_->changed.wait_for(impl_->held, timeout); }

}  // namespace OpenPlotr
