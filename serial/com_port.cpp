#include "serial/com_port.h"

#include "support/status.h"

namespace OpenPlotr {

// Until the platform halves exist every port stays closed.
COMPort::COMPort() = default;
COMPort::~COMPort() = default;
bool COMPort::IsOpen() const { return false; }
void COMPort::Close() {}
std::int32_t COMPort::Open(const char16_t *, std::int32_t) { return QVX::kStatusFail; }
bool COMPort::Configure(std::int32_t, std::int32_t) { return false; }
bool COMPort::SetBaudRate(std::int32_t rate) { return Configure(rate, 1); }
std::int32_t COMPort::GetBaudRate() const { return baudRate; }
bool COMPort::CanUseBaudRate(std::int32_t rate) {
  const std::int32_t previous = GetBaudRate();
  if (!Configure(rate, 1)) return false;
  return Configure(previous, 1);
}

}  // namespace OpenPlotr
