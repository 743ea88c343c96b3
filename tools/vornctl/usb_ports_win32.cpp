// The driver asks the Setup API for the COM ports; vornctl has no list of its own.
#include "tools/vornctl/usb_ports.h"

namespace vornctl {

std::optional<std::vector<UsbSerialPort>> ListUsbSerialPorts() { return std::nullopt; }

}  // namespace vornctl
