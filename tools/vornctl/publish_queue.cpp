#include "tools/vornctl/publish_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace vornctl {

PublishQueue::PublishQueue() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

PublishQueue::~PublishQueue() {
  if (fd_ >= 0) ::close(fd_);
}

void PublishQueue::Wake() {
  if (fd_ < 0) return;
  const std::uint64_t one = 1;
  // A full counter still wakes the poll; nothing is lost by a failed write.
  [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}

bool PublishQueue::Push(Outgoing item) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (item.kind == Outgoing::Kind::Data && (items_.size() >= kMaxItems || bytes_ + item.payload.size() > kMaxBytes)) {
      ++dropped_;
      return false;
    }
    bytes_ += item.payload.size();
    items_.push_back(std::move(item));
  }
  Wake();
  return true;
}

void PublishQueue::TakeAll(std::deque<Outgoing> &out) {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = ::read(fd_, &count, sizeof count);
  out.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  out.swap(items_);
  bytes_ = 0;
}

std::int64_t PublishQueue::Dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

}  // namespace vornctl
