#include <cstdlib>

#include "discovery_test_env.h"

namespace vorn_test {

void SetEnv(const char *name, const char *value) { setenv(name, value, 1); }
void UnsetEnv(const char *name) { unsetenv(name); }

}  // namespace vorn_test
