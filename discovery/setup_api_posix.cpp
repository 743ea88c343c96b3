// udev needs no library loaded at start-up.
#include "discovery/discovery.h"

namespace OpenPlotr {

void LoadSetupApi() {}
void UnloadSetupApi() {}

}  // namespace OpenPlotr
