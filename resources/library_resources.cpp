#include "resources/library_resources.h"

#include <atomic>

namespace OpenPlotr {

namespace {
std::atomic<void *> moduleInstance{nullptr};
}

void SetModuleInstance(void *instance) { moduleInstance = instance; }
void *ModuleInstance() { return moduleInstance; }

}  // namespace OpenPlotr
