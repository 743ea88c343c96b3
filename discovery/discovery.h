// Discovery: finds the next serial port that belongs to a Vorn device.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "discovery/ftdi_flags.h"

namespace OpenPlotr {

// What a search found: what the driver needs to make the device's session.
struct FoundDevice {
  std::u16string portName;    // the port's device path
  std::int32_t uniqueId = 0;  // hashed from the serial number
  std::u16string deviceText;  // the serial number after its Vorn prefix
};

// The next Vorn device, or nothing at the end of the list.
std::optional<FoundDevice> SearchNextDevice();

// Makes the process-wide discovery state (empty); run at library start-up.
void PrepareDiscoveryState();

// Forgets the enumerator and the FTDI library record.
void DiscardDiscoveryState();

// Flags of the FTDI library record; false when no record exists.
bool CurrentFtdiFlags(FtdiFlags &out);

// True between the search that lists the ports and the end of that list.
bool DeviceEnumeratorExists();

// True when the last search walked a VORN_PORTS list to its end without finding
// a Vorn device in it (the value empty, no entry with '=', or every entry skipped):
// the system's ports were not searched. Cleared when the next search starts.
bool PortListYieldedNothing();

// What listing the system's ports needs loaded, run at library start-up and
// shut-down: the Setup API on Windows (system_ports_win32.cpp), nothing for udev.
void PrepareSystemPorts();
void ReleaseSystemPorts();

}  // namespace OpenPlotr
