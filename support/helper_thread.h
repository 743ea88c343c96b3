// Runs a piece of work to its end on a thread made for it.
//
// One-time initialisations of the runtime (a guarded static, the C++ locale's
// first use) make the Windows build's statically linked threading runtime keep a
// record of the thread that runs them: an event and a thread handle, freed when
// that thread ends while the library is loaded. A host thread outlives every
// unload, so its record was lost at each one. Run on a thread of our own, the
// work leaves its records behind with that thread. Elsewhere the work runs on
// the calling thread.
#pragma once

namespace QVX {

// Returns once work(argument) has returned; runs it here when no thread can be made.
void RunOnHelperThread(void (*work)(void *), void *argument);

}  // namespace QVX
