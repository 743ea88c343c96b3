#include "serial/host_reads.h"

#include "serial/event_thread.h"
#include "serial/receive_ring.h"

namespace OpenPlotr {

namespace {

bool IsLineEnd(std::uint8_t byte) { return byte == '\n' || byte == '\r'; }

// The host's time-out, counted from the call and again from each arrival of bytes
// in the ring. dataEvent is set after every chunk, also one whose lines the session
// dropped (a stream nobody started, noise): a wait that started afresh at every
// wake-up would last as long as the device talks.
class Deadline {
 public:
  explicit Deadline(std::uint32_t timeoutMs) : timeoutMs_(timeoutMs) {}

  void Restart() { started_ = false; }

  // What is left of the time-out; the clock is read only once a wait is needed.
  std::uint32_t Left() {
    if (timeoutMs_ == 0 || timeoutMs_ == kWaitForever) return timeoutMs_;
    const std::uint64_t now = MonotonicMs();
    if (!started_) {
      end_ = now + timeoutMs_;
      started_ = true;
    }
    return now >= end_ ? 0 : static_cast<std::uint32_t>(end_ - now);
  }

 private:
  const std::uint32_t timeoutMs_;
  std::uint64_t end_ = 0;
  bool started_ = false;
};

}  // namespace

std::int32_t ReadLineFromRing(ReceiveRing *ring, DataEvent &dataEvent, char *buffer, std::int32_t maxLen,
                              std::uint32_t timeoutMs) {
  if (!ring) return 0;
  // Look for a whole line first; nothing is taken until one is there. dataEvent is
  // signalled per chunk, not per line, so every wake-up looks at the ring again.
  std::int32_t look = ring->ReadPosition();
  Deadline deadline(timeoutMs);
  for (;;) {
    while (look == ring->WritePosition()) {
      if (dataEvent.Wait(deadline.Left()) != WaitOutcome::kFirst) return 0;
      // A part of the line came: the rest is waited for as long again.
      if (look != ring->WritePosition()) deadline.Restart();
    }
    const std::uint8_t byte = ring->At(look);
    look = ReceiveRing::Next(look);
    if (IsLineEnd(byte)) break;
  }

  // A buffer without room (maxLen 0 or less) is read like one of a single byte, but
  // nothing is written to it: a host polling that way still waits for the line.
  const std::int32_t room = maxLen > 0 ? maxLen - 1 : 0;
  std::int32_t read = ring->ReadPosition();
  const std::int32_t end = ring->WritePosition();
  std::int32_t stored = 0;
  while (stored < room && read != end) {
    const std::uint8_t byte = ring->At(read);
    read = ReceiveRing::Next(read);
    if (IsLineEnd(byte)) break;
    buffer[stored++] = static_cast<char>(byte);
  }
  ring->ConsumeTo(read);
  if (maxLen > 0) buffer[stored] = '\0';
  return 1;
}

bool PeekByte(ReceiveRing &ring, DataEvent &dataEvent, std::uint32_t timeoutMs) {
  const std::int32_t at = ring.ReadPosition();
  Deadline deadline(timeoutMs);
  while (at == ring.WritePosition()) {
    if (dataEvent.Wait(deadline.Left()) != WaitOutcome::kFirst) return false;
  }
  return true;
}

std::int32_t ReadBlockFromRing(ReceiveRing *ring, DataEvent &dataEvent, char *buffer, std::int32_t count,
                               std::uint32_t timeoutMs) {
  if (!ring) return 0;
  if (ring->BytesWaiting() == 0 && !PeekByte(*ring, dataEvent, timeoutMs)) return 0;
  if (count <= 0) return 0;
  return ring->Take(buffer, count) > 0 ? 1 : 0;
}

std::int32_t BytesWaiting(const ReceiveRing *ring) { return ring ? ring->BytesWaiting() : 0; }

void FlushRing(ReceiveRing *ring) {
  if (ring) ring->ResetForHost();
}

}  // namespace OpenPlotr
