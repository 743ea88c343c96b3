// A shared pointer that one thread replaces while others take copies of it:
// a reader always holds a complete, live object.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "support/slim_lock.h"

namespace OpenPlotr {

// The standard atomic shared pointer waits through the threading runtime's
// condition variables on some platforms; the lock only covers copying one pointer.
template <typename T>
class Snapshot {
 public:
  std::shared_ptr<const T> load() const {
    std::lock_guard<SlimLock> guard(lock_);
    return value_;
  }
  void store(std::shared_ptr<const T> value) {
    {
      std::lock_guard<SlimLock> guard(lock_);
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
  mutable SlimLock lock_;
  std::atomic<std::uint64_t> generation_{0};
  std::shared_ptr<const T> value_;
};

}  // namespace OpenPlotr
