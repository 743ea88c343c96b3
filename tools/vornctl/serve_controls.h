// `vornctl serve`'s controls: one JSON request in, one JSON reply out, with
// the same checks and refusals as the page's controls, plus the recording
// lease: a subscriber that records a device holds it, and while any hold is
// younger than kHoldLife nobody may stop it or change its channels or period.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/vornctl/device_reader.h"
#include "tools/vornctl/view_panel.h"

namespace vornctl {

class ServeControls {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kHoldLife = std::chrono::seconds(5);
  // A request is a few hundred bytes; the page's controls allow as much.
  static constexpr std::size_t kRequestBytes = 4096;
  static constexpr std::size_t kHoldersPerDevice = 64;
  static constexpr std::size_t kHolderLength = 100;

  explicit ServeControls(std::vector<DeviceReader *> devices);

  // reply gets the reply's JSON text once: at once, or later from the
  // device's thread when it has acted (it must not block). Not thread-safe:
  // one thread hands in every request.
  void Handle(const std::string &request, std::function<void(std::string)> reply, Clock::time_point now = Clock::now());

  // The holders of a device whose hold is still alive.
  std::vector<std::string> Holders(std::size_t device, Clock::time_point now = Clock::now());

 private:
  std::vector<std::unique_ptr<LocalPanel>> panels_;
  std::vector<ViewPanel *> devices_;                             // the panels, as the page's controls take them
  std::vector<std::map<std::string, Clock::time_point>> holds_;  // per device: holder, last hold
};

}  // namespace vornctl
