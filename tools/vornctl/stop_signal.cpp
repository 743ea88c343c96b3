#include "tools/vornctl/stop_signal.h"

#include <atomic>
#include <csignal>

namespace vornctl {

namespace {

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

extern "C" void OnStopSignal(int signalNumber) {
  if (stopRequested.exchange(true)) {
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
    return;
  }
  // Some C libraries reset the handler on delivery; the second press must still be seen.
  std::signal(signalNumber, OnStopSignal);
}

}  // namespace

void InstallStopHandler() {
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
}

bool StopRequested() { return stopRequested.load(); }

}  // namespace vornctl
