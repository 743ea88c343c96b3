// The receive thread's body: wait for characters, read them chunk by chunk, hand
// each chunk to the session's sink, signal dataEvent; the same states and failure
// rules on every platform.
#pragma once

#include <atomic>
#include <cstdint>

#include "support/status.h"

namespace OpenPlotr {

class DataEvent;
class Event;
class SerialPort;

// The consumer of received chunks (the session's line assembler). Runs on the receive thread.
class ChunkSink {
 public:
  // count may be 0 (a comm event after which nothing could be read); 0 or E_FAIL.
  virtual QVX::Status HandleChunk(const char *bytes, std::int32_t count) = 0;

 protected:
  ~ChunkSink() = default;
};

// One read asks for a byte less than the buffer holds.
inline constexpr std::int32_t kChunkBufferBytes = 8192;
inline constexpr std::int32_t kChunkBytes = kChunkBufferBytes - 1;

class ReceiveLoop {
 public:
  // stopFlag, when given, is set before stopEvent: reading it spares a system call per
  // wake-up that asking the event would cost.
  ReceiveLoop(SerialPort &port, Event &commEvent, Event &stopEvent, DataEvent &dataEvent, std::atomic<bool> &failed,
              ChunkSink &sink, char *buffer, const std::atomic<bool> *stopFlag = nullptr)
      : port(port), commEvent(commEvent), stopEvent(stopEvent), dataEvent(dataEvent), failed(failed), sink(sink),
        buffer(buffer), stopFlag(stopFlag) {}

  // Runs until the stop request (or a wait that cannot be made any more); returns 0.
  std::uint32_t Run();

 private:
  enum class Cycle { kDone, kStop, kFail };

  Cycle WaitAndRead();
  Cycle ReadChunks(bool afterAbort);
  Cycle BackOff();
  bool StopAsked();

  SerialPort &port;
  Event &commEvent;
  Event &stopEvent;
  DataEvent &dataEvent;
  std::atomic<bool> &failed;
  ChunkSink &sink;
  char *const buffer;
  const std::atomic<bool> *const stopFlag;
  std::uint32_t abortsInARow = 0;
};

}  // namespace OpenPlotr
