// The platform half of discovery: the system's port list, its converter
// lookup and its record of port names.
#pragma once

#include <memory>
#include <string>

#include "discovery/dev_reg_enum.h"
#include "discovery/ftdi_lookup.h"

namespace OpenPlotr {

// The present serial ports (dev_reg_enum_win32.cpp / _posix.cpp).
std::unique_ptr<DevRegEnum> MakePlatformEnumerator();
// The converter lookup (ftdi_lookup_win32.cpp / _posix.cpp).
std::unique_ptr<FtdiLookup> MakePlatformFtdiLookup();
// The port name recorded for a device (port_name_win32.cpp / _posix.cpp).
bool ReadPortName(const std::u16string &instanceId, std::u16string &portName);

}  // namespace OpenPlotr
