// The host's reads from a session's receive ring: lines, blocks, the count waiting
// and the flush. These calls are the ring's only consumer. A session without a ring
// (never initialised) reads as empty.
#pragma once

#include <cstdint>

namespace OpenPlotr {

class DataEvent;
class ReceiveRing;

// 1 when a line (up to maxLen - 1 bytes, its CR or LF consumed, not stored) was
// delivered with a terminating null; 0 when no complete line came within timeoutMs
// of the call or of the last bytes of it that reached the ring (wake-ups that bring
// nothing to the ring do not count). A maxLen of 0 or less waits as maxLen 1 does but writes nothing.
std::int32_t ReadLineFromRing(ReceiveRing *ring, DataEvent &dataEvent, char *buffer, std::int32_t maxLen,
                              std::uint32_t timeoutMs);
// 1 when at least one byte (at most count, and at most what is waiting) was delivered.
std::int32_t ReadBlockFromRing(ReceiveRing *ring, DataEvent &dataEvent, char *buffer, std::int32_t count,
                               std::uint32_t timeoutMs);
// True once a byte is waiting; it is only looked at.
bool PeekByte(ReceiveRing &ring, DataEvent &dataEvent, std::uint32_t timeoutMs);
std::int32_t BytesWaiting(const ReceiveRing *ring);
// Empties the ring as far as the producer had got; later bytes stay.
void FlushRing(ReceiveRing *ring);

}  // namespace OpenPlotr
