// The native library asks its host for nothing at start-up.
#include "tools/hostlib/host_environment.h"

namespace vorn_host {

struct HostEnvironmentOffer::State {};

HostEnvironmentOffer::HostEnvironmentOffer(HostEnvironmentObject &) {}

HostEnvironmentOffer::~HostEnvironmentOffer() = default;

}  // namespace vorn_host
