// A shared pointer that one thread replaces while others take copies of it:
// a reader always holds a complete, live object.
#pragma once

#include <atomic>
#include <cstdint>
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
      generation_.fetch_add(1, std::memory_order_release);
    }
    // The replaced object (now in value) is released outside the lock.
  }

  // One reader's own copy, taken again only after a store: a reader that looks every
  // few milliseconds (the decoder, once per line) then reads one counter, instead of
  // taking the lock and a reference on a line the cache has long let go of.
  class Reader {
   public:
    const T *Get(const Snapshot &from) {
      const std::uint64_t now = from.generation_.load(std::memory_order_acquire);
      if (!taken_ || now != seen_) {
        held_ = from.load();
        seen_ = now;
        taken_ = true;
      }
      return held_.get();
    }

   private:
    std::shared_ptr<const T> held_;
    std::uint64_t seen_ = 0;
    bool taken_ = false;
  };

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
  std::atomic<std::uint64_t> generation_{0};
  std::shared_ptr<const T> value_;
};

}  // namespace OpenPlotr
