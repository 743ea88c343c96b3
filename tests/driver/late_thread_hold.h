// Holds the library's receive threads right after they signal an event, for a
// second, while the host closes or unloads: as a thread preempted right there
// would be. POSIX: every 8-byte read or write of a thread other than the host's
// (late_thread_hold_posix.cpp interposes them); Windows: every SetEvent the
// library makes (its import is redirected).
#pragma once

#include <atomic>

namespace vorn_test {

// Set by the host around CloseAll and the unload.
extern std::atomic<bool> closing;

// Call once from the host's thread, before anything else.
void MarkHostThread();
// Call after each load with the library's handle (as vorn_host::VornLibrary holds it).
void HoldSignallingThreads(void *library);

}  // namespace vorn_test
