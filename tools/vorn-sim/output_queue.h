#pragma once
// What the device has decided to send and when. Each chunk is one write() on
// the port, so the fault modes that split or batch writes are expressed as the
// chunk boundaries.

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "faults.h"
#include "sim_time.h"

namespace VornSim {

struct OutputChunk {
  std::string bytes;
  SimMicros due = 0;
  // Data lines (text without CR LF) whose last byte is in this chunk: once the
  // chunk is written they count as sent.
  std::vector<std::string> dataLines;
};

class OutputQueue {
 public:
  // Chunks leave in the order they were pushed; a chunk is never due before
  // the one ahead of it.
  void Push(OutputChunk chunk);
  std::vector<OutputChunk> TakeDue(SimMicros now);
  std::optional<SimMicros> NextDue() const;
  size_t PendingBytes() const { return pendingBytes; }
  // Due time of the last chunk queued, or nothing when empty.
  std::optional<SimMicros> LastDue() const;
  void Clear();

 private:
  std::deque<OutputChunk> chunks;
  size_t pendingBytes = 0;
};

// Turns lines into chunks, applying the write-shaping faults (split CR LF,
// trickle, burst).
class WriteShaper {
 public:
  explicit WriteShaper(const FaultSet &faults) : faults(faults) {}

  // An answer: its lines travel together (one write unless a fault splits it).
  void Answer(OutputQueue &queue, const std::vector<std::string> &lines, SimMicros due);
  // A line of the stream (a data line, or junk between data lines when
  // isData is false); with the burst fault it may be held back.
  void StreamLine(OutputQueue &queue, const std::string &line, SimMicros due, bool isData);
  // Writes out a held-back burst, if any.
  void Flush(OutputQueue &queue, SimMicros due);
  void Reset();

 private:
  void Emit(OutputQueue &queue, std::string bytes, SimMicros due, std::vector<std::string> dataLines);

  const FaultSet &faults;
  std::string burst;
  std::vector<std::string> burstLines;
  // Due time of the last chunk this shaper made; far in the past before the first.
  static constexpr SimMicros kNever = -(SimMicros(1) << 60);
  SimMicros lastDue = kNever;
};

}  // namespace VornSim
