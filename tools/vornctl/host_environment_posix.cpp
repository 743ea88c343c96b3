// The native library asks its host for nothing at start-up.
#include "tools/vornctl/host_environment.h"

namespace vornctl {

struct HostEnvironmentOffer::State {};

HostEnvironmentOffer::HostEnvironmentOffer() = default;

HostEnvironmentOffer::~HostEnvironmentOffer() = default;

}  // namespace vornctl
