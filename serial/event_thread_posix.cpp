#include "serial/event_thread.h"

#include <dlfcn.h>
#include <poll.h>
#include <pthread.h>
#include <linux/futex.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

namespace OpenPlotr {

namespace {

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

// Consumes the signal if it is still there; another waiter may have taken it first.
bool TakeSignal(int fd) {
  std::uint64_t count = 0;
  for (;;) {
    if (read(fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count)) return true;
    if (errno != EINTR) return false;
  }
}

int PollTimeout(std::uint32_t timeoutMs, std::uint64_t deadline) {
  if (timeoutMs == kWaitForever) return -1;
  const std::uint64_t now = MonotonicMs();
  if (now >= deadline) return 0;
  const std::uint64_t left = deadline - now;
  return left > static_cast<std::uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(left);
}

// Polls up to two descriptors; the first wins when both are ready.
WaitOutcome WaitOnDescriptors(const int *fds, int count, std::uint32_t timeoutMs) {
  const std::uint64_t deadline = MonotonicMs() + timeoutMs;
  for (;;) {
    pollfd polled[2] = {};
    for (int i = 0; i < count; ++i) polled[i] = {fds[i], POLLIN, 0};
    const int ready = poll(polled, static_cast<nfds_t>(count), PollTimeout(timeoutMs, deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return WaitOutcome::kFailed;
    }
    if (ready == 0) {
      if (PollTimeout(timeoutMs, deadline) == 0) return WaitOutcome::kTimeout;
      continue;
    }
    for (int i = 0; i < count; ++i) {
      if (polled[i].revents & (POLLERR | POLLNVAL)) return WaitOutcome::kFailed;
      if ((polled[i].revents & POLLIN) && TakeSignal(fds[i])) {
        return i == 0 ? WaitOutcome::kFirst : WaitOutcome::kSecond;
      }
    }
  }
}

void RaisePriority() {
  // Per-thread nice value on Linux; without the privilege the thread keeps the normal one.
  const pid_t self = static_cast<pid_t>(syscall(SYS_gettid));
  errno = 0;
  const int current = getpriority(PRIO_PROCESS, static_cast<id_t>(self));
  if (errno == 0) setpriority(PRIO_PROCESS, static_cast<id_t>(self), current - 1);
}

}  // namespace

struct ThreadLauncher {
  static void *Run(void *self) {
    auto *owner = static_cast<Thread *>(self);
    const Thread::Body body = owner->body_;
    void *const argument = owner->argument_;
    RaisePriority();
    body(argument);
    return nullptr;
  }
};

Event::Event() {
  const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  handle = fd < 0 ? kNoHandle : fd;
}

Event::~Event() {
  if (Valid()) close(Fd(handle));
}

void Event::Set() {
  if (!Valid()) return;
  const std::uint64_t one = 1;
  while (write(Fd(handle), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void Event::Reset() {
  if (Valid()) TakeSignal(Fd(handle));
}

WaitOutcome Event::Wait(std::uint32_t timeoutMs) {
  if (!Valid()) return WaitOutcome::kFailed;
  const int fd = Fd(handle);
  return WaitOnDescriptors(&fd, 1, timeoutMs);
}

namespace {

// The futex word is the signal itself: a waiter sleeps only while it reads 0.
long FutexWait(std::atomic<std::uint32_t> &word, const timespec *relative) {
  return syscall(SYS_futex, reinterpret_cast<std::uint32_t *>(&word), FUTEX_WAIT_PRIVATE, 0u, relative, nullptr, 0);
}

void FutexWakeOne(std::atomic<std::uint32_t> &word) {
  syscall(SYS_futex, reinterpret_cast<std::uint32_t *>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace

DataEvent::DataEvent() = default;
DataEvent::~DataEvent() = default;

bool DataEvent::Valid() const { return true; }

void DataEvent::Set() {
  // Both sides order their store before the other's load (sequentially consistent), so
  // either this sees the waiter and wakes it, or the waiter's futex finds the 1.
  if (signalled.exchange(1) == 0 && waiting.load() != 0) FutexWakeOne(signalled);
}

void DataEvent::Reset() { signalled.store(0); }

WaitOutcome DataEvent::Wait(std::uint32_t timeoutMs) {
  if (signalled.exchange(0) != 0) return WaitOutcome::kFirst;
  if (timeoutMs == 0) return WaitOutcome::kTimeout;
  const bool forever = timeoutMs == kWaitForever;
  const std::uint64_t deadline = forever ? 0 : MonotonicMs() + timeoutMs;
  for (;;) {
    timespec left{};
    if (!forever) {
      const std::uint64_t now = MonotonicMs();
      if (now >= deadline) return WaitOutcome::kTimeout;
      left.tv_sec = static_cast<time_t>((deadline - now) / 1000);
      left.tv_nsec = static_cast<long>((deadline - now) % 1000) * 1000000L;
    }
    waiting.fetch_add(1);
    const long slept = FutexWait(signalled, forever ? nullptr : &left);
    const int error = slept < 0 ? errno : 0;
    waiting.fetch_sub(1);
    if (signalled.exchange(0) != 0) return WaitOutcome::kFirst;
    if (slept < 0 && error != EAGAIN && error != EINTR && error != ETIMEDOUT) return WaitOutcome::kFailed;
  }
}

WaitOutcome WaitForEither(Event &first, Event &second, std::uint32_t timeoutMs) {
  if (!first.Valid() || !second.Valid()) return WaitOutcome::kFailed;
  const int fds[2] = {Fd(first.Native()), Fd(second.Native())};
  return WaitOnDescriptors(fds, 2, timeoutMs);
}

Thread::~Thread() {
  if (started_) Abandon();
}

bool Thread::Start(Body body, void *argument) {
  if (started_) return false;
  body_ = body;
  argument_ = argument;
  pthread_t thread;
  if (pthread_create(&thread, nullptr, ThreadLauncher::Run, this) != 0) return false;
  handle = static_cast<std::intptr_t>(thread);
  started_ = true;
  return true;
}

// A joined thread has run its last instruction. Its exit takes no lock an unloading
// caller holds, so the join is the same in every case.
bool Thread::Join(std::uint32_t timeoutMs, bool /*loaderLockHeld*/) {
  if (!started_) return true;
  const auto thread = static_cast<pthread_t>(handle);
  const std::uint64_t end = MonotonicMs() + timeoutMs;
  for (;;) {
    // In slices on the realtime clock the join takes, against the monotonic bound.
    const std::uint64_t now = MonotonicMs();
    const std::uint64_t slice = end > now ? (end - now < 50 ? end - now : 50) : 0;
    timespec at{};
    clock_gettime(CLOCK_REALTIME, &at);
    at.tv_nsec += static_cast<long>(slice % 1000) * 1000000L;
    at.tv_sec += static_cast<time_t>(slice / 1000 + at.tv_nsec / 1000000000L);
    at.tv_nsec %= 1000000000L;
    const int result = pthread_timedjoin_np(thread, nullptr, &at);
    if (result != ETIMEDOUT && result != EBUSY && result != EINTR) break;
    if (MonotonicMs() >= end) return false;
  }
  started_ = false;
  handle = 0;
  return true;
}

void Thread::Abandon() {
  if (!started_) return;
  pthread_detach(static_cast<pthread_t>(handle));
  PinLibrary();
  started_ = false;
  handle = 0;
}

void Thread::Forget() {
  if (!started_) return;
  pthread_detach(static_cast<pthread_t>(handle));
  started_ = false;
  handle = 0;
}

void PinLibrary() {
  Dl_info self{};
  if (dladdr(reinterpret_cast<void *>(&PinLibrary), &self) && self.dli_fname) {
    dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  }
}

void SleepMs(std::uint32_t ms) {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

std::uint64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace OpenPlotr
