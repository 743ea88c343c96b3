#include "support/helper_thread.h"

namespace QVX {

// The POSIX runtime keeps no per-thread records of one-time initialisations.
void RunOnHelperThread(void (*work)(void *), void *argument) { work(argument); }

}  // namespace QVX
