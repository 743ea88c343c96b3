// The converter lookup: which USB serial number serves a port name. On Windows
// the FTDI D2XX library (FtdiLibrary); elsewhere udev; for VORN_PORTS none.
#pragma once

#include <string>

#include "discovery/ftdi_flags.h"

namespace OpenPlotr {

class FtdiLookup {
 public:
  virtual ~FtdiLookup() = default;
  // notInstalled / cannotLoad, which the host's general message reports.
  virtual FtdiFlags Flags() const = 0;
  // Loaded with every entry point, and neither flag set.
  virtual bool Usable() const = 0;
  // The serial number of the converter on comPortName; false when none is found.
  virtual bool FindFtdiSerial(const std::u16string &comPortName, std::u16string &serial) = 0;
};

// A lookup that is always usable and knows no converter.
class NoConverterLookup final : public FtdiLookup {
 public:
  FtdiFlags Flags() const override { return {}; }
  bool Usable() const override { return true; }
  bool FindFtdiSerial(const std::u16string &, std::u16string &) override { return false; }
};

}  // namespace OpenPlotr
