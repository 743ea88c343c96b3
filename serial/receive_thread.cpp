#include "serial/receive_thread.h"

#include <new>

#include "serial/serial_port.h"

namespace OpenPlotr {

namespace {
constexpr std::uint32_t kStopWaitMs = 500;
// Past the first wait. Every wait inside the loop is bounded (an operation whose
// cancellation does not complete is abandoned, not awaited: at most a 500 ms read
// and 100 ms for its cancellation, or 500 ms for an ended comm-event wait), so the
// loop lets go well within this.
constexpr std::uint32_t kLetGoMs = 1500;
}  // namespace

ReceiveThread::ReceiveThread() : chunk(new (std::nothrow) char[kChunkBufferBytes]) {}

ReceiveThread::~ReceiveThread() { Stop(false); }

bool ReceiveThread::EventsReady() const {
  return commEvent.Valid() && stopEvent.Valid() && dataEvent.Valid() && loopEnded.Valid() && chunk;
}

bool ReceiveThread::Start(SerialPort &onPort, ChunkSink &toSink, std::atomic<bool> &failedFlag) {
  if (!EventsReady()) return false;
  // The old thread may still append to the old ring.
  Stop(false);
  std::unique_ptr<ReceiveRing> ring(new (std::nothrow) ReceiveRing());
  if (!ring) return false;
  receiveRing = std::move(ring);
  // Signals left from an earlier thread or a Close without one must not reach this one.
  stopEvent.Reset();
  commEvent.Reset();
  dataEvent.Reset();
  loopEnded.Reset();
  stopRequested.store(false);
  port = &onPort;
  sink = &toSink;
  failed = &failedFlag;
  return receiveThread.Start(Body, this);
}

void ReceiveThread::Stop(bool processExiting, bool loaderLockHeld) {
  if (!receiveThread.Exists()) return;
  if (!stopRequested.load()) {
    stopRequested.store(true, std::memory_order_release);
    stopEvent.Set();
  }
  if (!processExiting) {
    // A read or comm-event wait that a driver keeps pending would hold the loop
    // past its stop request; cancelled, it ends with the request seen.
    port->CancelPending();
    if (loopEnded.Wait(kStopWaitMs) != WaitOutcome::kFirst) {
      port->CancelPending();
      // What the loop uses belongs to the caller: it is not freed under a running
      // loop. Reaching the unbounded wait would take a loop stuck outside the port's
      // bounded operations.
      if (loopEnded.Wait(kLetGoMs) != WaitOutcome::kFirst) loopEnded.Wait(kWaitForever);
    }
  }
  receiveThread.Release(!processExiting && !loaderLockHeld);
}

std::uint32_t ReceiveThread::Body(void *self) {
  auto *owner = static_cast<ReceiveThread *>(self);
  ReceiveLoop loop(*owner->port, owner->commEvent, owner->stopEvent, owner->dataEvent, *owner->failed, *owner->sink,
                   owner->chunk.get(), &owner->stopRequested);
  const std::uint32_t result = loop.Run();
  owner->loopEnded.Set();
  return result;
}

}  // namespace OpenPlotr
