// The platform's serial port: the few operations the portable port, the receive
// loop and the transmit path need. serial_port_win32.cpp and serial_port_posix.cpp
// implement it; nothing above this header knows which one is in use.
#pragma once

#include <cstdint>

namespace OpenPlotr {

class Event;

// How one wait for arriving characters ended.
enum class CharWait {
  kChars,    // characters are waiting to be read
  kNothing,  // an event that announces no characters
  kAborted,  // the wait was cancelled by the driver or the system, not by our stop request
  kStop,     // the stop event was signalled (and consumed)
  kFailed,   // the port no longer works
};

enum class ConfigureOutcome {
  kRejected,  // the line settings were not applied
  kLineOnly,  // speed and framing applied, the read time-outs not
  kDone,
};

enum class WriteOutcome { kDone, kTimedOut, kFailed };

class SerialPort {
 public:
  SerialPort() = default;
  ~SerialPort() { Close(); }
  SerialPort(const SerialPort &) = delete;
  SerialPort &operator=(const SerialPort &) = delete;

  bool IsOpen() const { return handle != kClosed; }
  // Opens name unchanged, for exclusive use, with reads and writes that never block the caller.
  bool Open(const char16_t *name);
  void Close();

  // 8 data bits, no parity, one stop bit, binary, no handshake, DTR off, RTS per
  // rtsControl (Windows RTS_CONTROL_* values), reads that return at once with what
  // is buffered; rate 0 or less keeps the current speed.
  ConfigureOutcome Configure(std::int32_t rate, std::int32_t rtsControl);
  // The speed the port is set to now, read from the port; false when it cannot be read.
  bool CurrentRate(std::int32_t &rate) const;

  // Waits until characters arrive or stopEvent is signalled. commEvent is the event the
  // platform's own wait completes on, where it needs one.
  CharWait WaitForChars(Event &commEvent, Event &stopEvent);
  // After a failed cycle: kChars once characters arrive (on Windows, a later comm event),
  // kStop at the stop request, kFailed when not even that can be waited for. A port that
  // is gone for good only waits for the stop request.
  CharWait WaitAfterFailure(Event &commEvent, Event &stopEvent);
  // Reads what is buffered, at most size bytes: the count (0 when nothing was waiting), or -1.
  std::int32_t ReadChunk(char *buffer, std::int32_t size);
  // Writes length bytes, waiting at most boundMs for them to go out; a write that is
  // given up is cancelled before this returns.
  WriteOutcome Write(const char *bytes, std::int32_t length, std::uint32_t boundMs);
  // Cancels reads and waits that other threads have pending on the port.
  void CancelPending();

  static constexpr std::intptr_t kClosed = -1;

 private:
  struct CommWait;   // a platform's pending character wait, where it has one
  struct IoRecords;  // a platform's records of reads and writes, where it keeps them

  std::intptr_t handle = kClosed;  // HANDLE on Windows, a descriptor elsewhere
  CommWait *commWait = nullptr;
  IoRecords *ioRecords = nullptr;
};

}  // namespace OpenPlotr
