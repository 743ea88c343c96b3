// The serial-port base class: one exclusive handle, fixed 8N1 line settings,
// and the speed operations the host can call.
#pragma once

#include <cstdint>
#include <memory>

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

 protected:
  std::int32_t baudRate = 0;
};

}  // namespace OpenPlotr
