// VornSerial: the driver's whole state for one discovered device.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "device/protocol/protocol_state.h"
#include "device/session_wiring.h"
#include "serial/com_port.h"
#include "serial/receive_loop.h"
#include "serial/receive_thread.h"

struct CommandRecord;

namespace OpenPlotr {

// How the library is ending when a session goes. The receive thread's stop must
// not wait on what cannot happen then: at process exit the other threads are
// already gone, and on Windows the detach holds the loader lock.
struct SessionEnd {
  bool processExiting = false;
  bool moduleDetaching = false;
};

class VornSerial : public COMPort, public ChunkSink {
 public:
  VornSerial(std::u16string portName, std::int32_t uniqueId, std::u16string deviceText);
  ~VornSerial() override;

  // Sends X, stops the receive thread and closes the port; harmless when nothing is open.
  // A receive thread that does not let go keeps the port open (it still uses it).
  void Close() override;
  // The library's shut-down: Close as the library ends; the destructor then closes
  // nothing again. False when the session must not be freed: its receive thread was
  // abandoned past every bound and still uses it.
  bool End(SessionEnd end);
  std::int32_t InitialiseSession(const std::u16string &portName);

  // The transport part of the initialisation: opens portName, sets 115200 8N1 and starts
  // the receive thread on a new ring. kStatusFail with failed set when any step fails;
  // a session whose events could not be made opens nothing and starts no thread.
  std::int32_t StartTransport(const std::u16string &portName);

  // Where the receive thread hands its chunks; the session itself unless told otherwise
  // (before StartTransport).
  void SetChunkSink(ChunkSink *sink) { chunkSink = sink ? sink : this; }
  QVX::Status HandleChunk(const char *bytes, std::int32_t count) override;

  // Host text from the receive thread's line handlers; a line is stored whole or not at all.
  bool PushLine(const char *bytes, std::int32_t count);
  // The start of sampling empties the ring as the host's flush does.
  void ResetRingForHost() { FlushReadBuffer(); }

  // Host reads from the receive ring; a session that was never initialised reads as empty.
  std::int32_t ReadLineFromRing(char *buffer, std::int32_t maxLen, std::uint32_t timeoutMs);
  std::int32_t ReadBlockFromRing(char *buffer, std::int32_t count, std::uint32_t timeoutMs);
  std::int32_t BytesWaiting() const;
  void FlushReadBuffer();

  bool ExecuteCommand(std::uint32_t code, CommandRecord *record);
  std::int32_t TakeErrorText(char *buffer);

  // Resets the protocol state and sends S until the device answers (or the limit passes).
  void StartDownload();
  // Admits the device only when its revision equals the required one.
  bool FirmwareGate() const;

  const std::u16string portName;
  const std::u16string deviceText;
  const std::int32_t uniqueId;

  std::atomic<bool> wrongFirmware{false};
  // notResponding, downloadState, waitState, acknowledged, streaming, the configuration.
  ProtocolState protocol;
  // Per-device error text; no operation stores one, so it stays empty.
  std::u16string errorText;
  std::atomic<bool> failed{false};

  // commEvent, stopEvent, dataEvent, the thread, the stop request and receiveRing.
  ReceiveThread receiveThread;

 private:
  ChunkSink *chunkSink = this;
  SessionEnd ending;
  bool ended = false;
  // The line path and the command senders; lives while the session does.
  std::unique_ptr<SessionWiring> wiring = std::make_unique<SessionWiring>(*this);
};

}  // namespace OpenPlotr
