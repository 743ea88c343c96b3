#include "serial/receive_thread.h"

#include <new>

#include "serial/serial_port.h"

namespace OpenPlotr {

namespace {
constexpr std::uint32_t kStopWaitMs = 500;
// Past the first wait. Every wait inside the loop is bounded (an operation whose
// cancellation does not complete is abandoned, not awaited: at most a 500 ms read
// and 100 ms for its cancellation, or 500 ms for an ended comm-event wait), so the
// loop lets go well within this; the thread's exit is awaited within it too.
constexpr std::uint32_t kLetGoMs = 1500;
}  // namespace

ReceiveThread::ReceiveThread() : chunk(new (std::nothrow) char[kChunkBufferBytes]) {}

ReceiveThread::~ReceiveThread() {
  if (!Stop(false)) {
    // The owner should have kept us; a loop that still runs must not find these freed.
    receiveRing.release();
    chunk.release();
  }
}

bool ReceiveThread::EventsReady() const { return commEvent.Valid() && stopEvent.Valid() && dataEvent.Valid() && chunk; }

bool ReceiveThread::Start(SerialPort &onPort, ChunkSink &toSink, std::atomic<bool> &failedFlag) {
  if (!EventsReady()) return false;
  // The old thread may still append to the old ring.
  if (!Stop(false)) return false;
  std::unique_ptr<ReceiveRing> ring(new (std::nothrow) ReceiveRing());
  if (!ring) return false;
  receiveRing = std::move(ring);
  // Signals left from an earlier thread or a Close without one must not reach this one.
  stopEvent.Reset();
  commEvent.Reset();
  dataEvent.Reset();
  stopRequested.store(false);
  port = &onPort;
  sink = &toSink;
  failed = &failedFlag;
  return receiveThread.Start(Body, this);
}

bool ReceiveThread::Stop(bool processExiting, bool loaderLockHeld) {
  if (abandoned_) return false;
  if (!receiveThread.Exists()) return true;
  if (!stopRequested.load()) {
    stopRequested.store(true, std::memory_order_release);
    stopEvent.Set();
  }
  if (processExiting) {
    receiveThread.Forget();
    return true;
  }
  // A read or comm-event wait that a driver keeps pending would hold the loop
  // past its stop request; cancelled, it ends with the request seen.
  port->CancelPending();
  if (receiveThread.Join(kStopWaitMs, loaderLockHeld)) return true;
  port->CancelPending();
  if (receiveThread.Join(kLetGoMs, loaderLockHeld)) return true;
  // Past every bound of the loop's own waits: a hang is worse than what it keeps.
  receiveThread.Abandon();
  abandoned_ = true;
  return false;
}

std::uint32_t ReceiveThread::Body(void *self) {
  auto *owner = static_cast<ReceiveThread *>(self);
  ReceiveLoop loop(*owner->port, owner->commEvent, owner->stopEvent, owner->dataEvent, *owner->failed, *owner->sink,
                   owner->chunk.get(), &owner->stopRequested);
  return loop.Run();
}

}  // namespace OpenPlotr
