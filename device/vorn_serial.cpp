#include "device/vorn_serial.h"

#include "device/port_commands.h"
#include "serial/event_thread.h"
#include "serial/host_reads.h"
#include "support/status.h"

namespace OpenPlotr {

namespace {
constexpr std::int32_t kSessionRate = 115200;
constexpr std::uint32_t kAfterStopCommandMs = 20;
}  // namespace

VornSerial::VornSerial(std::u16string portName, std::int32_t uniqueId, std::u16string deviceText)
    : portName(std::move(portName)), deviceText(std::move(deviceText)), uniqueId(uniqueId) {}

VornSerial::~VornSerial() {
  if (!ended) Close();
}

void VornSerial::Close() {
  SendCommand(*this, 'X');
  SleepMs(kAfterStopCommandMs);
  if (receiveThread.Stop(ending.processExiting, ending.moduleDetaching)) COMPort::Close();
}

bool VornSerial::End(SessionEnd end) {
  ending = end;
  Close();
  ended = true;
  return !receiveThread.Abandoned();
}

std::int32_t VornSerial::StartTransport(const std::u16string &path) {
  if (!receiveThread.EventsReady()) {
    failed = true;
    return QVX::kStatusFail;
  }
  // A thread of an earlier start still uses the port it would replace.
  if (!receiveThread.Stop(ending.processExiting, ending.moduleDetaching) || !portHandle.Open(path.c_str())) {
    failed = true;
    return QVX::kStatusFail;
  }
  if (!Configure(kSessionRate, 1) || !receiveThread.Start(portHandle, *chunkSink, failed)) {
    Close();
    failed = true;
    return QVX::kStatusFail;
  }
  return QVX::kStatusOk;
}

bool VornSerial::PushLine(const char *bytes, std::int32_t count) {
  ReceiveRing *ring = receiveThread.Ring();
  return ring && ring->PushLine(bytes, count);
}

std::int32_t VornSerial::ReadLineFromRing(char *buffer, std::int32_t maxLen, std::uint32_t timeoutMs) {
  return OpenPlotr::ReadLineFromRing(receiveThread.Ring(), receiveThread.dataEvent, buffer, maxLen, timeoutMs);
}

std::int32_t VornSerial::ReadBlockFromRing(char *buffer, std::int32_t count, std::uint32_t timeoutMs) {
  return OpenPlotr::ReadBlockFromRing(receiveThread.Ring(), receiveThread.dataEvent, buffer, count, timeoutMs);
}

std::int32_t VornSerial::BytesWaiting() const { return OpenPlotr::BytesWaiting(receiveThread.Ring()); }

void VornSerial::FlushReadBuffer() { FlushRing(receiveThread.Ring()); }

}  // namespace OpenPlotr
