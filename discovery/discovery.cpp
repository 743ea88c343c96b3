#include "discovery/discovery.h"

#include "device/vorn_serial.h"

namespace OpenPlotr {

// The enumerators are not built yet: every search ends at once.
std::unique_ptr<VornSerial> SearchNextDevice() { return nullptr; }
void DiscardDiscoveryState() {}
bool CurrentFtdiFlags(FtdiFlags &) { return false; }
void LoadSetupApi() {}
void UnloadSetupApi() {}

}  // namespace OpenPlotr
