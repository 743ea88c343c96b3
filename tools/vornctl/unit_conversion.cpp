#include "tools/vornctl/unit_conversion.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vornctl {

double ToPhysical(const ChannelInfo &channel, std::int32_t v) {
  if (!channel.hasRange) return v;
  return channel.minimum + static_cast<double>(v) / kScaledMaximum * (channel.maximum - channel.minimum);
}

int PhysicalDecimals(const ChannelInfo &channel) {
  if (!channel.hasRange) return 0;
  const double step = std::fabs(channel.maximum - channel.minimum) / kScaledMaximum;
  if (!(step > 0) || !std::isfinite(step)) return 0;
  const int decimals = static_cast<int>(std::ceil(-std::log10(step))) + 1;
  return std::clamp(decimals, 0, 9);
}

std::string FixedText(double v, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  if (text[0] == '-' && std::strspn(text + 1, "0.") == std::strlen(text + 1)) return text + 1;
  return text;
}

}  // namespace vornctl
