#include "common/chunk_reader.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "common/cpu_pinning.h"

namespace vorn_bench {

ChunkReader::ChunkReader(int fd, bool handOff) : fd_(fd) {
  if (fd_ < 0 || (handOff && (event_ = eventfd(0, EFD_CLOEXEC)) < 0)) return;
  reader_ = std::thread([this] { Read(); });
  while (readerTid_ == 0) std::this_thread::yield();
}

ChunkReader::~ChunkReader() {
  stop_ = true;
  if (reader_.joinable()) reader_.join();
  if (event_ >= 0) close(event_);
}

void ChunkReader::Read() {
  readerTid_ = ThisThreadId();
  char chunk[8192];
  const std::uint64_t one = 1;
  while (!stop_.load(std::memory_order_relaxed)) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const ssize_t got = read(fd_, chunk, sizeof chunk);
    std::uint64_t seen = 0;
    for (ssize_t i = 0; i < got; ++i) seen += chunk[i] == '\n';
    lines_.fetch_add(seen, std::memory_order_release);
    if (event_ >= 0 && got > 0 && write(event_, &one, sizeof one) < 0) break;
  }
}

}  // namespace vorn_bench
