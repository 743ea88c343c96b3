#include <windows.h>

#include "support/slim_lock.h"

namespace OpenPlotr {

static_assert(sizeof(SRWLOCK) == sizeof(std::uintptr_t), "SlimLock holds an SRWLOCK");

void SlimLock::lock() { AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(word_)); }
void SlimLock::unlock() { ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(word_)); }

}  // namespace OpenPlotr
