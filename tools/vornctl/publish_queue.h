// What the device readers and the control replies hand to the publisher's
// thread, which alone owns the sockets. Bounded: a reader never waits for the
// network; what does not fit is dropped and counted, and the subscribers see
// it as a jump in the device's sequence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace vornctl {

struct Outgoing {
  enum class Kind { Data, Meta, Reply } kind = Kind::Data;
  std::size_t device = 0;  // Data, Meta: the device's place in the publisher's list
  std::string address;     // Reply: the ROUTER's peer identity
  bool delimiter = false;  // Reply: the request came with an empty frame (a REQ client)
  std::string payload;
};

class PublishQueue {
 public:
  // Data beyond either bound is dropped; metadata and replies are small and
  // few (one per change or request), and are always taken.
  static constexpr std::size_t kMaxBytes = 32 * 1024 * 1024;
  static constexpr std::size_t kMaxItems = 16384;

  PublishQueue();
  ~PublishQueue();
  PublishQueue(const PublishQueue &) = delete;
  PublishQueue &operator=(const PublishQueue &) = delete;

  // False when a data item was dropped.
  bool Push(Outgoing item);
  // Everything queued, oldest first, into out (emptied first).
  void TakeAll(std::deque<Outgoing> &out);
  // False when the wake-up descriptor could not be made.
  bool Ok() const { return fd_ >= 0; }
  // Readable while items wait, for the publisher's poll.
  int WakeFd() const { return fd_; }
  // Wakes the poll without an item (to stop, or for a change of state).
  void Wake();
  std::int64_t Dropped() const;

 private:
  mutable std::mutex mutex_;
  std::deque<Outgoing> items_;
  std::size_t bytes_ = 0;
  std::int64_t dropped_ = 0;
  int fd_ = -1;
};

}  // namespace vornctl
