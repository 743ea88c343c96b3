#include "device/vorn_serial.h"

#include "support/status.h"

namespace OpenPlotr {

VornSerial::VornSerial(std::u16string portName, std::int32_t uniqueId, std::u16string deviceText)
    : portName(std::move(portName)), deviceText(std::move(deviceText)), uniqueId(uniqueId) {}

VornSerial::~VornSerial() { Close(); }

void VornSerial::Close() { COMPort::Close(); }

std::int32_t VornSerial::InitialiseSession(const std::u16string &) {
  failed = true;
  return QVX::kStatusFail;
}

std::int32_t VornSerial::ReadLineFromRing(char *, std::int32_t, std::uint32_t) { return 0; }
std::int32_t VornSerial::ReadBlockFromRing(char *, std::int32_t, std::uint32_t) { return 0; }
std::int32_t VornSerial::BytesWaiting() const { return 0; }
void VornSerial::FlushReadBuffer() {}
bool VornSerial::ExecuteCommand(std::uint32_t, CommandRecord *) { return false; }
std::int32_t VornSerial::TakeErrorText(char *) { return 1; }

}  // namespace OpenPlotr
