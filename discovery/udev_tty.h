// The serial ports udev knows of that sit on a USB device (POSIX only).
#pragma once

#include <string>
#include <vector>

namespace OpenPlotr {

struct UsbTty {
  std::string sysname;  // ttyUSB0
  std::string devnode;  // /dev/ttyUSB0, the name the session opens
  std::string vendorId;
  std::string productId;
  std::string serialProperty;   // ID_SERIAL_SHORT, set by udev's rules
  std::string serialAttribute;  // the USB device's own serial attribute
  std::string interfaceNumber;  // the tty's USB interface, two hex digits ("00"); empty when unknown
  std::string model;
  std::string vendor;
};

// In udev's order (by device path); ttys without a USB parent or a node are left out.
std::vector<UsbTty> ListUsbTtys();

// UTF-8 from udev into the driver's text.
std::u16string FromUdevText(const std::string &text);

}  // namespace OpenPlotr
