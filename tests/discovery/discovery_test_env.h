// Setting the process environment from a test, as a shell would before the host starts.
#pragma once

namespace vorn_test {

void SetEnv(const char *name, const char *value);
void UnsetEnv(const char *name);

}  // namespace vorn_test
