#include <pthread.h>
#include <unistd.h>

#include "driver/module.h"

// Registered against this library's own handle, so that an unload takes the handler
// with it. (A plain atexit made inside a library is registered for the process when
// an interposer such as a sanitizer runtime replaces it, and would then be called
// into unmapped code at exit.)
extern "C" int __cxa_atexit(void (*handler)(void *), void *argument, void *library);
extern "C" void *__dso_handle;

namespace {

// The process whose sessions the table holds.
pid_t owner = 0;

// A child made by fork() runs the exit handler below when it calls exit(): it must
// not send X to its parent's devices nor stop the parent's receive threads through
// the descriptors it inherited. The pid check catches children made without the
// fork handlers (a raw clone).
extern "C" void VornForkedChild() {
  OpenPlotr::ModuleForked();
  owner = getpid();
}

void DisownIfForked() {
  if (getpid() != owner) VornForkedChild();
}

// exit() destroys the library's static objects before the loader runs the
// destructor below, and the receive threads still run then. Registered once they
// all exist, this handler runs before any of them goes, so the sessions end first.
extern "C" void VornProcessExits(void *) {
  DisownIfForked();
  OpenPlotr::ModuleProcessExit();
}

}  // namespace

// Load and unload of the shared object stand in for the attach and detach notifications.
__attribute__((constructor)) static void VornLibraryLoaded() {
  owner = getpid();
  OpenPlotr::ModuleAttach(nullptr);
  __cxa_atexit(VornProcessExits, nullptr, &__dso_handle);
  // Also registered against this library's handle (the C library's wrapper passes it).
  pthread_atfork(nullptr, nullptr, VornForkedChild);
}

// At dlclose this runs before the handler above, which then finds nothing left to do.
__attribute__((destructor)) static void VornLibraryUnloaded() {
  DisownIfForked();
  OpenPlotr::ModuleDetach(false);
}
