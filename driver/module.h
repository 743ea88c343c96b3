// Library start-up and shut-down, shared by the platform entry points.
#pragma once

namespace OpenPlotr {

// Builds the process-wide objects, then runs the attach work. Never throws.
void ModuleAttach(void *instance);
// processExiting: the process is ending and its other threads are already gone.
// Runs once per attach; a second call does nothing.
void ModuleDetach(bool processExiting);

// True once the detach notification of an exiting process has begun.
bool ProcessIsExiting();
// True while the detach notification runs: on Windows the caller holds the loader
// lock then, and a thread cannot finish exiting until it is released.
bool ModuleIsDetaching();

// Everything CloseAll does: sessions from the last index to the first, then the discovery state.
void CloseEverything();

}  // namespace OpenPlotr
