#include "tools/vornctl/stop_signal.h"

#include <atomic>
#include <csignal>
#include <cstdlib>

#include "tools/vornctl/console.h"

namespace vornctl {

namespace {

std::atomic<bool> stopRequested{false};
std::atomic<bool> recording{false};
std::atomic<int> stopSignal{0};
std::atomic<bool> laterStopsWait{false};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the flags are set from a signal handler");

int StatusFor(int signalNumber) { return 128 + signalNumber; }

extern "C" void OnStopSignal(int signalNumber) {
  if (recording.load() && stopRequested.load() && laterStopsWait.load()) {
    WriteToStderrFromSignal("\nvornctl: finishing the recordings first; they are never cut short\n");
    std::signal(signalNumber, OnStopSignal);
    return;
  }
  if (!recording.load() || stopRequested.exchange(true)) {
    // Nothing to finish, or the second signal: end now. No destructors run, so
    // the driver is not unloaded under a call that may still be inside it;
    // the system closes its ports.
    if (recording.load()) {
      WriteToStderrFromSignal(
          signalNumber == SIGINT
              ? "\nvornctl: stopped by Ctrl-C at once; unfinished files keep their .partial names\n"
              : "\nvornctl: stopped by SIGTERM at once; unfinished files keep their .partial names\n");
    } else {
      WriteToStderrFromSignal(signalNumber == SIGINT ? "\nvornctl: stopped by Ctrl-C\n"
                                                     : "\nvornctl: stopped by SIGTERM\n");
    }
    std::_Exit(StatusFor(signalNumber));
  }
  stopSignal.store(signalNumber);
  // Some C libraries reset the handler on delivery; the second press must still be seen.
  std::signal(signalNumber, OnStopSignal);
}

}  // namespace

void InstallStopHandler() {
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
#ifdef SIGXFSZ
  // A file-size limit is a failed write to report, not a reason to die mid-recording.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

void BeginRecordingPhase() { recording.store(true); }

void EndRecordingPhase() { recording.store(false); }

bool StopRequested() { return stopRequested.load(); }

void SetLaterStopsWaitForFiles(bool on) { laterStopsWait.store(on); }

std::string StopSignalName() { return stopSignal.load() == SIGTERM ? "SIGTERM" : "Ctrl-C"; }

int StopExitStatus() { return StatusFor(stopSignal.load() == SIGTERM ? SIGTERM : SIGINT); }

}  // namespace vornctl
