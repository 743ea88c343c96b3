#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "driver/late_thread_hold.h"

namespace vorn_test {

std::atomic<bool> closing{false};

namespace {

pid_t hostThread = 0;

void HoldALibraryThread(size_t count) {
  if (count == 8 && closing && static_cast<pid_t>(syscall(SYS_gettid)) != hostThread) usleep(1000000);
}

}  // namespace

void MarkHostThread() { hostThread = static_cast<pid_t>(syscall(SYS_gettid)); }

void HoldSignallingThreads(void *) {}

}  // namespace vorn_test

// Found before the C library's by every caller in the process, the library included.
extern "C" __attribute__((visibility("default"))) ssize_t write(int fd, const void *bytes, size_t count) {
  using WriteFn = ssize_t (*)(int, const void *, size_t);
  static const auto next = reinterpret_cast<WriteFn>(dlsym(RTLD_NEXT, "write"));
  const ssize_t written = next(fd, bytes, count);
  vorn_test::HoldALibraryThread(count);
  return written;
}

extern "C" __attribute__((visibility("default"))) ssize_t read(int fd, void *bytes, size_t count) {
  using ReadFn = ssize_t (*)(int, void *, size_t);
  static const auto next = reinterpret_cast<ReadFn>(dlsym(RTLD_NEXT, "read"));
  const ssize_t got = next(fd, bytes, count);
  vorn_test::HoldALibraryThread(count);
  return got;
}
