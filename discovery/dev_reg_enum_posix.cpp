// The POSIX enumerator: udev's USB serial ports, each with an identifier in
// the shape of a Windows instance identifier (USB\VID_v+PID_p+SERIAL\ttyUSB0),
// so that the serial number is cut from it exactly as on Windows.
#include <cstdlib>

#include "discovery/dev_reg_enum.h"
#include "discovery/system_ports.h"
#include "discovery/udev_tty.h"

namespace OpenPlotr {

namespace {

// FTDI's Windows bus driver names each port of a converter by the USB serial
// number followed by the port's letter (A for interface 0, B for 1, ...); the
// serial text and unique identifier a host stores come from that. udev gives
// the bare serial number, so the letter is added here: the same converter then
// has the same identity on both systems. An interface udev does not report is
// taken as the first, as on the single-port converters.
std::string InstanceSerial(const UsbTty &port) {
  if (port.serialProperty.empty() || port.vendorId != "0403") return port.serialProperty;
  long number = 0;
  if (!port.interfaceNumber.empty()) {
    char *end = nullptr;
    number = std::strtol(port.interfaceNumber.c_str(), &end, 16);
    if (*end != '\0' || number < 0 || number > 25) return port.serialProperty;
  }
  return port.serialProperty + static_cast<char>('A' + number);
}

class UdevEnum final : public DevRegEnum {
 public:
  UdevEnum() : ports_(ListUsbTtys()) { nextIndex = 0; }

  bool Fetch(std::int32_t index) override {
    if (index < 0 || static_cast<std::size_t>(index) >= ports_.size()) return false;
    const UsbTty &port = ports_[index];
    instanceId = FromUdevText("USB\\VID_" + port.vendorId + "+PID_" + port.productId + "+" + InstanceSerial(port) +
                              "\\" + port.sysname);
    devicePath = FromUdevText(port.devnode);
    // As on Windows, a missing property keeps the previous device's value.
    if (!port.model.empty()) friendlyName = FromUdevText(port.model);
    if (!port.vendor.empty()) manufacturer = FromUdevText(port.vendor);
    return true;
  }

 protected:
  void CloseList() override { ports_.clear(); }

 private:
  std::vector<UsbTty> ports_;
};

}  // namespace

std::unique_ptr<DevRegEnum> SystemPorts::MakeEnumerator() { return std::make_unique<UdevEnum>(); }

}  // namespace OpenPlotr
