// The driver's general error message (device index -1 of GetLastErrorMsg).
#pragma once

#include <cstdint>
#include <string_view>

#include "discovery/ftdi_flags.h"

namespace OpenPlotr {

struct SessionFlags {
  bool wrongFirmware = false;
  bool notResponding = false;
};

// session: flags of the newest session, or null for an empty table.
// ftdi: flags of the FTDI library record, or null when none exists.
// portListYieldedNothing: the last search walked VORN_PORTS without finding a device.
std::u16string_view ChooseGeneralMessage(const SessionFlags *session, const FtdiFlags *ftdi,
                                         bool portListYieldedNothing = false);

}  // namespace OpenPlotr
