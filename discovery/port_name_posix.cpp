// The port name of a device: the node of the tty named at the end of its identifier.
#include "discovery/system_ports.h"
#include "discovery/udev_tty.h"

namespace OpenPlotr {

bool SystemPorts::ReadPortName(const std::u16string &instanceId, std::u16string &portName) {
  portName.clear();
  const auto backslash = instanceId.rfind(u'\\');
  if (backslash == std::u16string::npos) return false;
  const std::u16string sysname = instanceId.substr(backslash + 1);
  for (const UsbTty &port : ListUsbTtys()) {
    if (FromUdevText(port.sysname) == sysname) {
      portName = FromUdevText(port.devnode);
      return !portName.empty();
    }
  }
  return false;
}

}  // namespace OpenPlotr
