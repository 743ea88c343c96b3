#include <windows.h>

#include "support/change_signal.h"

namespace OpenPlotr {

struct ChangeSignal::Impl {
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
};

ChangeSignal::ChangeSignal() : impl_(std::make_unique<Impl>()) {}
ChangeSignal::~ChangeSignal() = default;

void ChangeSignal::Notify() {
  // Taking the lock orders the change before a waiter's next check.
  AcquireSRWLockExclusive(&impl_->lock);
  ReleaseSRWLockExclusive(&impl_->lock);
  WakeAllConditionVariable(&impl_->changed);
}

void ChangeSignal::Lock() { AcquireSRWLockExclusive(&impl_->lock); }
void ChangeSignal::Unlock() { ReleaseSRWLockExclusive(&impl_->lock); }

void ChangeSignal::WaitLocked(std::chrono::milliseconds timeout) {
  SleepConditionVariableSRW(&impl_->changed, &impl_->lock, static_cast<DWORD>(timeout.count()), 0);
}

}  // namespace OpenPlotr
