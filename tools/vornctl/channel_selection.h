// The --channels list of a recording.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vornctl/channel_info.h"

namespace vornctl {

// "all", or items separated by commas: a position ("2"), a range of
// positions ("1-3") or a channel name (exact, else the one name that matches
// ignoring case). The positions chosen, each once, in the order given:
// "ECG,Temp" and "Temp,ECG" give the files' columns in that order; "all"
// and ranges keep the device's order.
std::optional<std::vector<std::int32_t>> SelectChannels(std::string_view list, const std::vector<ChannelInfo> &channels,
                                                        std::string &error);

}  // namespace vornctl
