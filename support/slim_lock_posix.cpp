#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#include "support/slim_lock.h"

namespace OpenPlotr {

// 0 free, 1 held, 2 held with a waiter that sleeps in the kernel.
void SlimLock::lock() {
  std::atomic_ref<std::uint32_t> state(word_[0]);
  std::uint32_t seen = 0;
  if (state.compare_exchange_strong(seen, 1, std::memory_order_acquire)) return;
  if (seen != 2) seen = state.exchange(2, std::memory_order_acquire);
  while (seen != 0) {
    syscall(SYS_futex, &word_[0], FUTEX_WAIT_PRIVATE, 2u, nullptr, nullptr, 0);
    seen = state.exchange(2, std::memory_order_acquire);
  }
}

void SlimLock::unlock() {
  std::atomic_ref<std::uint32_t> state(word_[0]);
  if (state.exchange(0, std::memory_order_release) == 2) {
    syscall(SYS_futex, &word_[0], FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
  }
}

}  // namespace OpenPlotr
