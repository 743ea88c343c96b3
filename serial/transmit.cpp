#include "serial/transmit.h"

#include "serial/com_port.h"
#include "serial/event_thread.h"

namespace OpenPlotr {

bool WritePort(COMPort &port, const char *bytes, std::int32_t length) {
  const std::uint64_t started = MonotonicMs();
  switch (port.Port().Write(bytes, length, kWriteBoundMs)) {
    case WriteOutcome::kDone: return true;
    case WriteOutcome::kTimedOut: return false;
    case WriteOutcome::kFailed: break;
  }
  // A write that fails outright still costs the full bound: the callers' retry loops
  // (S until the device answers) are paced by it.
  const std::uint64_t spent = MonotonicMs() - started;
  if (spent < kWriteBoundMs) SleepMs(static_cast<std::uint32_t>(kWriteBoundMs - spent));
  return false;
}

}  // namespace OpenPlotr
