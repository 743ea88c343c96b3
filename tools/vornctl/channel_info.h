// One channel of a device's self-description.
#pragma once

#include <cstdint>
#include <string>

namespace vornctl {

struct ChannelInfo {
  std::int32_t position = 0;  // field position; 1 is the first channel
  std::string name;
  std::string unit;
  bool hasRange = false;  // a minimum and a maximum were reported
  double minimum = 0;
  double maximum = 0;
  std::string rangeText;  // code 22 as the driver wrote it
};

}  // namespace vornctl
