// A shared pointer that one thread replaces while others take copies of it:
// a reader always holds a complete, live object.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

namespace OpenPlotr {

// The standard atomic shared pointer waits through the threading runtime's
// condition variables on some platforms; a short spin is enough here, since
// the lock only covers copying one pointer.
template <typename T>
class Snapshot {
 public:
  std::shared_ptr<const T> load() const {
    Guard guard(lock_);
    return value_;
  }
  void store(std::shared_ptr<const T> value) {
    {
      Guard guard(lock_);
      value_.swap(value);
    }
    // The replaced object (now in value) is released outside the lock.
  }

 private:
  class Guard {
   public:
    explicit Guard(std::atomic_flag &flag) : flag_(flag) {
      while (flag_.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
    }
    ~Guard() { flag_.clear(std::memory_order_release); }

   private:
    std::atomic_flag &flag_;
  };

  mutable std::atomic_flag lock_ = ATOMIC_FLAG_INIT;
  std::shared_ptr<const T> value_;
};

}  // namespace OpenPlotr
