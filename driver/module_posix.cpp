#include "driver/module.h"

// Load and unload of the shared object stand in for the attach and detach notifications.
__attribute__((constructor)) static void VornLibraryLoaded() { OpenPlotr::ModuleAttach(nullptr); }

__attribute__((destructor)) static void VornLibraryUnloaded() { OpenPlotr::ModuleDetach(false); }
