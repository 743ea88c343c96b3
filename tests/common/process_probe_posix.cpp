#include "common/process_probe.h"

#include "tools/hostcheck/host_resources.h"

namespace vorn_test {

ProcessCounts CountProcessResources() { return {vorn_soak::CountThreads(), vorn_soak::CountDescriptors()}; }

}  // namespace vorn_test
