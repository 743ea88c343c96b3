// udev needs no library loaded at start-up.
#include "discovery/discovery.h"

namespace OpenPlotr {

void PrepareSystemPorts() {}
void ReleaseSystemPorts() {}

}  // namespace OpenPlotr
