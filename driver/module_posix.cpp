#include "driver/module.h"

// Registered against this library's own handle, so that an unload takes the handler
// with it. (A plain atexit made inside a library is registered for the process when
// an interposer such as a sanitizer runtime replaces it, and would then be called
// into unmapped code at exit.)
extern "C" int __cxa_atexit(void (*handler)(void *), void *argument, void *library);
extern "C" void *__dso_handle;

namespace {

// exit() destroys the library's static objects (the device table, the discovery
// state, the converters) before the loader runs the destructor below, and the
// receive threads still run then. Registered once they all exist, this handler runs
// before any of them goes, so the sessions end first, as at an unload.
extern "C" void VornProcessExits(void *) { OpenPlotr::ModuleDetach(false); }

}  // namespace

// Load and unload of the shared object stand in for the attach and detach notifications.
__attribute__((constructor)) static void VornLibraryLoaded() {
  OpenPlotr::ModuleAttach(nullptr);
  __cxa_atexit(VornProcessExits, nullptr, &__dso_handle);
}

// At dlclose this runs before the handler above, which then finds nothing left to do.
__attribute__((destructor)) static void VornLibraryUnloaded() { OpenPlotr::ModuleDetach(false); }
