#include "serial/receive_loop.h"

#include "serial/event_thread.h"
#include "serial/serial_port.h"

namespace OpenPlotr {

namespace {
constexpr std::uint32_t kLongestBackOffMs = 20;
}

std::uint32_t ReceiveLoop::Run() {
  Cycle cycle = WaitAndRead();
  for (;;) {
    if (cycle == Cycle::kFail) {
      failed = true;
      // Only arriving characters or the stop request leave this state. A wait that cannot
      // be made ends the thread rather than spinning at raised priority.
      if (port.WaitAfterFailure(commEvent, stopEvent) != CharWait::kChars) return 0;
    } else if (cycle == Cycle::kStop) {
      return 0;
    }
    cycle = WaitAndRead();
  }
}

ReceiveLoop::Cycle ReceiveLoop::WaitAndRead() {
  // A line that never falls silent must not keep the stop request waiting.
  if (StopAsked()) return Cycle::kStop;
  switch (port.WaitForChars(commEvent, stopEvent)) {
    case CharWait::kChars: abortsInARow = 0; return ReadChunks(false);
    case CharWait::kNothing: return Cycle::kDone;
    case CharWait::kAborted:
      // Not ours to end: re-armed. A wait that was cut short may have swallowed the
      // announcement of bytes, so look for them once.
      return ReadChunks(true);
    case CharWait::kStop: return Cycle::kStop;
    case CharWait::kFailed: break;
  }
  return Cycle::kFail;
}

ReceiveLoop::Cycle ReceiveLoop::ReadChunks(bool afterAbort) {
  for (bool first = true;; first = false) {
    const std::int32_t got = port.ReadChunk(buffer, kChunkBytes);
    if (got < 0) return Cycle::kFail;
    if (afterAbort && first) {
      if (got == 0) return BackOff();
      abortsInARow = 0;
    }
    if (sink.HandleChunk(buffer, got) == QVX::kStatusOk) dataEvent.Set();
    // A full read may have left bytes behind that no new comm event will announce.
    if (got < kChunkBytes) return Cycle::kDone;
    if (StopAsked()) return Cycle::kStop;
  }
}

bool ReceiveLoop::StopAsked() {
  if (stopFlag) return stopFlag->load(std::memory_order_acquire);
  return stopEvent.Wait(0) == WaitOutcome::kFirst;
}

ReceiveLoop::Cycle ReceiveLoop::BackOff() {
  // Aborted waits that repeat with no data (a port that refuses modem-status queries)
  // would otherwise spin; the pause grows to a bound, and the stop request cuts it short.
  if (++abortsInARow < 2) return Cycle::kDone;
  const std::uint32_t shift = abortsInARow - 2 < 5 ? abortsInARow - 2 : 5;
  const std::uint32_t pause = (1u << shift) < kLongestBackOffMs ? (1u << shift) : kLongestBackOffMs;
  return stopEvent.Wait(pause) == WaitOutcome::kFirst ? Cycle::kStop : Cycle::kDone;
}

}  // namespace OpenPlotr
