// The machine's USB serial ports as the system lists them, and what the
// driver's discovery makes of each: vornctl's account of where it looked.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vornctl {

struct UsbSerialPort {
  std::string node;  // /dev/ttyUSB0
  std::string vendorId;
  std::string productId;
  std::string serial;           // as udev's rules give it
  std::string serialAttribute;  // the USB device's own
  std::string interfaceNumber;  // two hex digits, empty when unknown
  std::string model;
};

// In the order discovery walks them; empty where the system offers no such
// list to vornctl (Windows: the driver asks the Setup API itself).
std::optional<std::vector<UsbSerialPort>> ListUsbSerialPorts();

bool IsFtdiConverter(const UsbSerialPort &port);
// The serial number discovery reads from the port: FTDI's ports carry their
// port letter (A for the first interface), as Windows names them.
std::string DiscoverySerial(const UsbSerialPort &port);
// Discovery takes a port whose serial number begins with one of these.
bool IsVornSerial(const std::string &serial);

// The ports discovery would take for devices 0, 1, ... in its order.
std::vector<UsbSerialPort> VornPortsAmong(const std::vector<UsbSerialPort> &ports);

// One line per port: what it is and why discovery passed it by.
std::vector<std::string> DescribeLookedAt(const std::vector<UsbSerialPort> &ports);

}  // namespace vornctl
