// Where discovery takes its ports from: the system (Setup API and D2XX on
// Windows, udev elsewhere) or, when VORN_PORTS is set, that list alone.
#pragma once

#include <memory>
#include <string>

#include "discovery/dev_reg_enum.h"
#include "discovery/ftdi_lookup.h"

namespace OpenPlotr {

class PortSource {
 public:
  virtual ~PortSource() = default;
  // The converter lookup, made at the start of a search.
  virtual std::unique_ptr<FtdiLookup> MakeFtdiLookup() = 0;
  // A fresh list of the present ports.
  virtual std::unique_ptr<DevRegEnum> MakeEnumerator() = 0;
  // The port name recorded for a device (its "PortName"); false and empty when unknown.
  virtual bool ReadPortName(const std::u16string &instanceId, std::u16string &portName) = 0;
  // True for a list that stands in for the system's ports (VORN_PORTS).
  virtual bool ReplacesSystemPorts() const { return false; }
};

// Platform half: the system's ports.
std::unique_ptr<PortSource> MakePlatformPortSource();

// VORN_PORTS when it is set, otherwise the system's ports.
std::unique_ptr<PortSource> MakePortSource();

// Tests put their own source in place; null restores the usual choice.
using PortSourceFactory = std::unique_ptr<PortSource> (*)();
void SetPortSourceFactory(PortSourceFactory factory);

}  // namespace OpenPlotr
