#include "serial/com_port.h"

#include "support/status.h"

namespace OpenPlotr {

COMPort::COMPort() = default;

COMPort::~COMPort() { portHandle.Close(); }

bool COMPort::IsOpen() const { return portHandle.IsOpen(); }

void COMPort::Close() { portHandle.Close(); }

std::int32_t COMPort::Open(const char16_t *name, std::int32_t rate) {
  if (!portHandle.Open(name)) return QVX::kStatusFail;
  if (Configure(rate, 1)) return QVX::kStatusOk;
  Close();
  return QVX::kStatusFail;
}

bool COMPort::Configure(std::int32_t rate, std::int32_t rtsControl) {
  const ConfigureOutcome outcome = portHandle.Configure(rate, rtsControl);
  // The line already runs at the new speed when only the time-outs failed.
  if (outcome != ConfigureOutcome::kRejected) baudRate = rate;
  return outcome == ConfigureOutcome::kDone;
}

bool COMPort::SetBaudRate(std::int32_t rate) { return Configure(rate, 1); }

std::int32_t COMPort::GetBaudRate() const { return baudRate; }

bool COMPort::CanUseBaudRate(std::int32_t rate) {
  // Restore what the line really ran at, which after SetBaudRate(0) is not the recorded rate.
  std::int32_t lineRate = 0;
  if (!portHandle.CurrentRate(lineRate)) return false;
  const std::int32_t recorded = baudRate;
  if (!Configure(rate, 1)) {
    Configure(lineRate, 1);
    baudRate = recorded;
    return false;
  }
  const bool restored = Configure(lineRate, 1);
  baudRate = recorded;
  return restored;
}

}  // namespace OpenPlotr
