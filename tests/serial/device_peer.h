// The far end of the serial line in the tests: what the device would write and read.
// Natively a pty master in this process; under Wine a native peer process that owns
// the pty behind the COM port and is scripted over loopback TCP.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vorn_test {

// The line as the device side sees it (termios of the pty).
struct LineSettings {
  std::int32_t rate = 0;
  bool eightBits = false;
  bool parity = false;
  bool twoStopBits = false;
  bool hardwareFlow = false;
  bool raw = false;  // no echo, no canonical input, no output or CR/LF processing
};

class DevicePeer {
 public:
  virtual ~DevicePeer() = default;
  // A fresh pty behind PortName(); the previous one goes away.
  virtual bool Renew() = 0;
  // What the driver opens: the pty slave path, or \\.\COMn.
  virtual std::u16string PortName() = 0;
  // Device to driver.
  virtual bool Send(std::string_view bytes) = 0;
  // Driver to device: up to count bytes, waiting at most timeoutMs for all of them.
  virtual std::string Receive(std::size_t count, std::uint32_t timeoutMs) = 0;
  // Forgets what the driver has written so far.
  virtual void Drain() = 0;
  // The device goes away (converter unplugged): the pty master closes.
  virtual void HangUp() = 0;
  virtual bool Line(LineSettings &out) = 0;
};

// Empty with a reason in error when no peer can be had.
std::unique_ptr<DevicePeer> OpenDevicePeer(std::string &error);

// A path that names no port.
std::u16string MissingPortName();

// False where the platform lets a second handle open a port that is held (Wine
// does not enforce the exclusive open of a serial device).
bool ExclusiveOpenIsEnforced();

// CPU time this process has used, to tell a waiting thread from a spinning one.
std::uint64_t ProcessCpuMs();

}  // namespace vorn_test
