// Library start-up and shut-down, shared by the platform entry points.
#pragma once

namespace OpenPlotr {

// Builds the process-wide objects, then runs the attach work. Never throws.
void ModuleAttach(void *instance);
// The unload. processExiting: the process is ending and its other threads are already
// gone (Windows). Runs once per attach; a later call, or one after ModuleProcessExit,
// does nothing.
void ModuleDetach(bool processExiting);
// exit() with the library loaded (POSIX): the host's other threads still run and may
// be inside a session, so every session is ended (X, its thread, its port) but none
// is freed. Once per attach, as ModuleDetach.
void ModuleProcessExit();
// In a forked child (POSIX): the sessions belong to the parent, with its devices and
// receive threads; they leave this process's table untouched. Async-signal-safe.
void ModuleForked();

// Everything CloseAll does: sessions from the last index to the first, then the discovery state.
void CloseEverything();

}  // namespace OpenPlotr
