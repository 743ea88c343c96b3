#include "output_queue.h"

#include <algorithm>

namespace VornSim {

void OutputQueue::Push(OutputChunk chunk) {
  if (!chunks.empty()) chunk.due = std::max(chunk.due, chunks.back().due);
  pendingBytes += chunk.bytes.size();
  chunks.push_back(std::move(chunk));
}

std::vector<OutputChunk> OutputQueue::TakeDue(SimMicros now) {
  std::vector<OutputChunk> due;
  while (!chunks.empty() && chunks.front().due <= now) {
    pendingBytes -= chunks.front().bytes.size();
    due.push_back(std::move(chunks.front()));
    chunks.pop_front();
  }
  return due;
}

std::optional<SimMicros> OutputQueue::NextDue() const {
  if (chunks.empty()) return std::nullopt;
  return chunks.front().due;
}

std::optional<SimMicros> OutputQueue::LastDue() const {
  if (chunks.empty()) return std::nullopt;
  return chunks.back().due;
}

void OutputQueue::Clear() {
  chunks.clear();
  pendingBytes = 0;
}

void WriteShaper::Answer(OutputQueue &queue, const std::vector<std::string> &lines, SimMicros due) {
  Flush(queue, due);
  if (faults.splitDelayMs >= 0) {
    for (const std::string &line : lines) Emit(queue, line + "\r\n", due, {});
    return;
  }
  std::string bytes;
  for (const std::string &line : lines) bytes += line + "\r\n";
  Emit(queue, std::move(bytes), due, {});
}

void WriteShaper::StreamLine(OutputQueue &queue, const std::string &line, SimMicros due, bool isData) {
  if (faults.burstBytes > 0) {
    burst += line + "\r\n";
    if (isData) burstLines.push_back(line);
    if (burst.size() >= static_cast<size_t>(faults.burstBytes)) Flush(queue, due);
    return;
  }
  if (isData) Emit(queue, line + "\r\n", due, {line});
  else Emit(queue, line + "\r\n", due, {});
}

void WriteShaper::Flush(OutputQueue &queue, SimMicros due) {
  if (burst.empty()) return;
  // A burst stays one write even with split-crlf: its point is the size.
  OutputChunk chunk{std::move(burst), std::max(due, lastDue), std::move(burstLines)};
  lastDue = chunk.due;
  queue.Push(std::move(chunk));
  burst.clear();
  burstLines.clear();
}

void WriteShaper::Reset() {
  burst.clear();
  burstLines.clear();
  lastDue = kNever;
}

void WriteShaper::Emit(OutputQueue &queue, std::string bytes, SimMicros due, std::vector<std::string> dataLines) {
  if (faults.trickleMs >= 0) {
    const SimMicros gap = MillisToMicros(faults.trickleMs);
    for (size_t i = 0; i < bytes.size(); ++i) {
      OutputChunk chunk{std::string(1, bytes[i]), std::max(due, lastDue + gap), {}};
      if (i + 1 == bytes.size()) chunk.dataLines = std::move(dataLines);
      lastDue = chunk.due;
      queue.Push(std::move(chunk));
    }
    return;
  }
  due = std::max(due, lastDue);
  if (faults.splitDelayMs >= 0) {
    const size_t cr = bytes.rfind('\r');
    if (cr != std::string::npos && cr + 1 < bytes.size()) {
      queue.Push(OutputChunk{bytes.substr(0, cr + 1), due, {}});
      lastDue = due + MillisToMicros(faults.splitDelayMs);
      queue.Push(OutputChunk{bytes.substr(cr + 1), lastDue, std::move(dataLines)});
      return;
    }
  }
  lastDue = due;
  queue.Push(OutputChunk{std::move(bytes), due, std::move(dataLines)});
}

}  // namespace VornSim
