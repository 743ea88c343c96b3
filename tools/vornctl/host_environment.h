// What a host application offers the driver before it loads it. On Windows
// the driver's start-up asks COM for the host's environment object and,
// without one, tries to bring up the host's framework itself and ends the
// process when it cannot; vornctl is the host here, so it offers one.
#pragma once

#include <memory>

namespace vornctl {

class HostEnvironmentOffer {
 public:
  HostEnvironmentOffer();   // offered from now on
  ~HostEnvironmentOffer();  // withdrawn; only after the driver is unloaded
  HostEnvironmentOffer(const HostEnvironmentOffer &) = delete;
  HostEnvironmentOffer &operator=(const HostEnvironmentOffer &) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vornctl
