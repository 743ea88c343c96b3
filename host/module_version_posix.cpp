#include "host/module_version.h"

namespace QVX {

// Shared objects carry no version resource.
ModuleVersion ReadOwnVersion() { return {}; }

}  // namespace QVX
