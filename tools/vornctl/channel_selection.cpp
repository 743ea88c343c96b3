#include "tools/vornctl/channel_selection.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace vornctl {

namespace {

std::optional<std::int32_t> Number(std::string_view text) {
  std::int32_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool Known(std::int32_t position, const std::vector<ChannelInfo> &channels) {
  return std::any_of(channels.begin(), channels.end(), [&](const ChannelInfo &c) { return c.position == position; });
}

std::optional<std::int32_t> ByName(std::string_view name, const std::vector<ChannelInfo> &channels,
                                   std::string &error) {
  for (const ChannelInfo &c : channels) {
    if (c.name == name) return c.position;
  }
  std::optional<std::int32_t> found;
  for (const ChannelInfo &c : channels) {
    if (!SameIgnoringCase(c.name, name)) continue;
    if (found) {
      error = "channel name '" + std::string(name) + "' matches more than one channel";
      return std::nullopt;
    }
    found = c.position;
  }
  if (!found) error = "the device has no channel '" + std::string(name) + "'";
  return found;
}

}  // namespace

std::optional<std::vector<std::int32_t>> SelectChannels(std::string_view list, const std::vector<ChannelInfo> &channels,
                                                        std::string &error) {
  std::vector<std::int32_t> chosen;
  if (list == "all") {
    for (const ChannelInfo &c : channels) chosen.push_back(c.position);
    if (chosen.empty()) error = "the device describes no channels";
    return chosen.empty() ? std::nullopt : std::optional(chosen);
  }
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = list.find(',', start);
    const std::string_view item = list.substr(start, comma == std::string_view::npos ? list.npos : comma - start);
    if (item.empty()) {
      error = "empty item in the channel list '" + std::string(list) + "'";
      return std::nullopt;
    }
    const std::size_t dash = item.find('-', 1);
    const auto first = Number(item.substr(0, dash));
    const auto last = dash == std::string_view::npos ? first : Number(item.substr(dash + 1));
    if (first && last) {
      if (*first > *last) {
        error = "channel range '" + std::string(item) + "' runs backwards";
        return std::nullopt;
      }
      for (std::int32_t p = *first; p <= *last; ++p) {
        if (!Known(p, channels)) {
          error = "the device has no channel at position " + std::to_string(p);
          return std::nullopt;
        }
        chosen.push_back(p);
      }
    } else {
      const auto position = ByName(item, channels, error);
      if (!position) return std::nullopt;
      chosen.push_back(*position);
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  std::vector<std::int32_t> once;
  for (std::int32_t p : chosen) {
    if (std::find(once.begin(), once.end(), p) == once.end()) once.push_back(p);
  }
  return once;
}

}  // namespace vornctl
