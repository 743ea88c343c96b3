#include <cstdlib>

#include "driver/module.h"

namespace {

// exit() destroys the library's static objects (the device table, the discovery
// state, the converters) before the loader runs the destructor below, and the
// receive threads still run then. Registered once they all exist, this handler runs
// before any of them goes, so the sessions end first, as at an unload.
extern "C" void VornProcessExits() { OpenPlotr::ModuleDetach(false); }

}  // namespace

// Load and unload of the shared object stand in for the attach and detach notifications.
__attribute__((constructor)) static void VornLibraryLoaded() {
  OpenPlotr::ModuleAttach(nullptr);
  std::atexit(VornProcessExits);
}

// At dlclose this runs before the handler above, which then finds nothing left to do.
__attribute__((destructor)) static void VornLibraryUnloaded() { OpenPlotr::ModuleDetach(false); }
