// The system's serial ports: the Setup API, the FTDI library and the registry on
// Windows, udev elsewhere. Each operation is defined by its platform half
// (dev_reg_enum_*, ftdi_lookup_*, port_name_*).
#pragma once

#include <memory>
#include <string>

#include "discovery/port_source.h"

namespace OpenPlotr {

class SystemPorts final : public PortSource {
 public:
  std::unique_ptr<FtdiLookup> MakeFtdiLookup() override;
  std::unique_ptr<DevRegEnum> MakeEnumerator() override;
  bool ReadPortName(const std::u16string &instanceId, std::u16string &portName) override;
};

}  // namespace OpenPlotr
