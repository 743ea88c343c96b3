// The library's own resources that the driver reads at run time.
#pragma once

#include <string>

namespace OpenPlotr {

// RCDATA 105, the control-list script handed to the host; empty when it cannot be loaded.
std::string LoadControlListScript();

// The library's module handle, stored at attach (null on platforms without one).
void SetModuleInstance(void *instance);
void *ModuleInstance();

}  // namespace OpenPlotr
