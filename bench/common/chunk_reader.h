// The reading half of the receive thread's baselines: a thread that polls and
// reads a port in chunks and counts the lines it saw. With a hand-off it also
// signals an event for every chunk, as the receive thread wakes a host waiting
// in ReadLine, so a baseline pays the same wake-up the driver does.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <thread>

namespace vorn_bench {

class ChunkReader {
 public:
  // fd stays the caller's and must outlive the reader.
  ChunkReader(int fd, bool handOff);
  ~ChunkReader();  // stops and joins the thread
  ChunkReader(const ChunkReader &) = delete;
  ChunkReader &operator=(const ChunkReader &) = delete;

  bool ok() const { return readerTid_ != 0; }
  // The event a hand-off signals (an eventfd); -1 without a hand-off.
  int Event() const { return event_; }
  pid_t ReaderTid() const { return readerTid_; }
  std::uint64_t Lines() const { return lines_.load(std::memory_order_acquire); }

 private:
  void Read();

  const int fd_;
  int event_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> lines_{0};
  std::atomic<pid_t> readerTid_{0};
  std::thread reader_;
};

}  // namespace vorn_bench
