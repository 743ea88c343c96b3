// The POSIX enumerator: udev's USB serial ports, each with an identifier in
// the shape of a Windows instance identifier (USB\VID_v+PID_p+SERIAL\ttyUSB0),
// so that the serial number is cut from it exactly as on Windows.
#include "discovery/dev_reg_enum.h"
#include "discovery/platform_ports.h"
#include "discovery/udev_tty.h"

namespace OpenPlotr {

namespace {

class UdevEnum final : public DevRegEnum {
 public:
  UdevEnum() : ports_(ListUsbTtys()) { nextIndex = 0; }

  bool Fetch(std::int32_t index) override {
    if (index < 0 || static_cast<std::size_t>(index) >= ports_.size()) return false;
    const UsbTty &port = ports_[index];
    instanceId = FromUdevText("USB\\VID_" + port.vendorId + "+PID_" + port.productId + "+" + port.serialProperty +
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

std::unique_ptr<DevRegEnum> MakePlatformEnumerator() { return std::make_unique<UdevEnum>(); }

}  // namespace OpenPlotr
