// udev's ttys that sit on a USB device, read by the same code as the driver's
// discovery (the same properties, falling back to the USB attributes when
// udev's database is not there).
#include "discovery/udev_tty.h"
#include "tools/vornctl/usb_ports.h"

namespace vornctl {

std::optional<std::vector<UsbSerialPort>> ListUsbSerialPorts() {
  std::vector<UsbSerialPort> ports;
  for (OpenPlotr::UsbTty &tty : OpenPlotr::ListUsbTtys()) {
    UsbSerialPort port;
    port.node = std::move(tty.devnode);
    port.vendorId = std::move(tty.vendorId);
    port.productId = std::move(tty.productId);
    port.serial = std::move(tty.serialProperty);
    port.serialAttribute = std::move(tty.serialAttribute);
    port.interfaceNumber = std::move(tty.interfaceNumber);
    port.model = std::move(tty.model);
    ports.push_back(std::move(port));
  }
  return ports;
}

}  // namespace vornctl
