// The driver scales each channel's range onto 0..32767; this undoes it.
#pragma once

#include <cstdint>
#include <string>

#include "tools/vornctl/channel_info.h"

namespace vornctl {

constexpr std::int32_t kScaledMaximum = 32767;

// Value v in the channel's own unit: minimum + v/32767 * (maximum - minimum).
// A channel without a range is forwarded unscaled by the driver, so v is
// already the device's number.
double ToPhysical(const ChannelInfo &channel, std::int32_t v);

// Decimal places that still show one scaled step of the channel's range.
int PhysicalDecimals(const ChannelInfo &channel);

// v with that many decimals, in the C locale's notation; never "-0.000",
// which would show a sign that is not in the data.
std::string FixedText(double v, int decimals);

}  // namespace vornctl
