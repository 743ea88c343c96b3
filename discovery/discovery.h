// Discovery: finds the next serial port that belongs to a Vorn device.
#pragma once

#include <memory>

#include "driver/general_message.h"

namespace OpenPlotr {

class VornSerial;

// A new session for the next Vorn device, or null at the end of the list.
std::unique_ptr<VornSerial> SearchNextDevice();

// Makes the process-wide discovery state (empty); run at library start-up.
void PrepareDiscoveryState();

// Forgets the enumerator and the FTDI library record.
void DiscardDiscoveryState();

// Flags of the FTDI library record; false when no record exists.
bool CurrentFtdiFlags(FtdiFlags &out);

// True between the search that lists the ports and the end of that list.
bool DeviceEnumeratorExists();

// Process-wide Setup API loader, run at library start-up and shut-down.
void LoadSetupApi();
void UnloadSetupApi();

}  // namespace OpenPlotr
