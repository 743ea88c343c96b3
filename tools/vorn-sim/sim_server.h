#pragma once
// The pty loop around DeviceProtocol.

#include "device_protocol.h"
#include "options.h"

namespace VornSim {

// Serves until SIGTERM, SIGINT or SIGHUP, --exit-after, or the vanish fault
// with --vanish-action exit. Returns the process exit code.
int RunServer(const SimOptions &options, const DeviceSettings &settings);

}  // namespace VornSim
