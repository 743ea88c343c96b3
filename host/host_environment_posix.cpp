#include "host/host_environment.h"

namespace QVX {

// No host application object model here: the report has nobody to go to.
IUnknownBase *FindHostEnvironment() { return nullptr; }

void EnsureHostFramework() {}

}  // namespace QVX
