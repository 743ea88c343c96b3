// COMPort: the serial-port base class. One exclusive port with the fixed line
// settings (8N1, RTS on, no handshake, reads that return at once) and the speed
// operations the host can call. The platform half is SerialPort.
#pragma once

#include <cstdint>

#include "serial/serial_port.h"

namespace OpenPlotr {

class COMPort {
 public:
  COMPort();
  virtual ~COMPort();
  COMPort(const COMPort &) = delete;
  COMPort &operator=(const COMPort &) = delete;

  virtual bool IsOpen() const;
  virtual void Close();
  virtual std::int32_t Open(const char16_t *name, std::int32_t rate);
  virtual bool Configure(std::int32_t rate, std::int32_t rtsControl);
  virtual bool SetBaudRate(std::int32_t rate);
  virtual std::int32_t GetBaudRate() const;
  virtual bool CanUseBaudRate(std::int32_t rate);

  // Shared by the receive thread and the transmit path; the port is opened for that.
  SerialPort &Port() { return portHandle; }

 protected:
  SerialPort portHandle;
  // The last rate given to Configure once the port took it, also 0 or less; not read back.
  std::int32_t baudRate = 0;
};

}  // namespace OpenPlotr
