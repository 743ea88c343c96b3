#include <windows.h>

#include "discovery_test_env.h"

namespace vorn_test {

// The driver reads the process block, not the C runtime's copy.
void SetEnv(const char *name, const char *value) { SetEnvironmentVariableA(name, value); }
void UnsetEnv(const char *name) { SetEnvironmentVariableA(name, nullptr); }

}  // namespace vorn_test
