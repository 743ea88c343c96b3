#include <windows.h>

#include "device/protocol_signal.h"

namespace OpenPlotr {

struct ProtocolSignal::Impl {
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
};

ProtocolSignal::ProtocolSignal() : impl_(std::make_unique<Impl>()) {}
ProtocolSignal::~ProtocolSignal() = default;

void ProtocolSignal::Notify() {
  // Taking the lock orders the change before a waiter's next check.
  AcquireSRWLockExclusive(&impl_->lock);
  ReleaseSRWLockExclusive(&impl_->lock);
  WakeAllConditionVariable(&impl_->changed);
}

void ProtocolSignal::Lock() { AcquireSRWLockExclusive(&impl_->lock); }
void ProtocolSignal::Unlock() { ReleaseSRWLockExclusive(&impl_->lock); }

void ProtocolSignal::WaitLocked(std::chrono::milliseconds timeout) {
  SleepConditionVariableSRW(&impl_->changed, &impl_->lock, static_cast<DWORD>(timeout.count()), 0);
}

}  // namespace OpenPlotr
