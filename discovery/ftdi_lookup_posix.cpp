// Without the D2XX library the converter behind a port is found through udev;
// this lookup is always installed.
#include "discovery/ftdi_library.h"
#include "discovery/system_ports.h"
#include "discovery/udev_tty.h"

namespace OpenPlotr {

namespace {

bool IsFtdiVendor(const std::string &vendorId) { return vendorId == "0403"; }

class UdevFtdiLookup final : public FtdiLookup {
 public:
  FtdiFlags Flags() const override { return {}; }
  bool Usable() const override { return true; }
  bool FindFtdiSerial(const std::u16string &comPortName, std::u16string &serial) override {
    if (comPortName.empty()) return false;
    for (const UsbTty &port : ListUsbTtys()) {
      if (FromUdevText(port.devnode) != comPortName) continue;
      // As D2XX, only FTDI's own converters are known.
      if (!IsFtdiVendor(port.vendorId)) return false;
      const std::string &text = port.serialAttribute.empty() ? port.serialProperty : port.serialAttribute;
      if (text.empty()) return false;
      serial = FromUdevText(text);
      return true;
    }
    return false;
  }
};

}  // namespace

std::unique_ptr<FtdiLookup> SystemPorts::MakeFtdiLookup() { return std::make_unique<UdevFtdiLookup>(); }

// No D2XX module is ever loaded here.
void FreeFtdiModule(void *) {}

}  // namespace OpenPlotr
