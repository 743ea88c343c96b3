// A publisher's metadata message about one device (JSON, docs/streaming.md),
// read into what a recording and a panel need. It comes from the network:
// every member is checked for its type and size before it is used.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vornctl/channel_info.h"
#include "tools/vornctl/device_description.h"
#include "tools/vornwire/wire_format.h"

namespace vornctl {

struct StreamMeta {
  std::string serial;
  std::optional<std::int32_t> uniqueId;
  std::string product;
  std::string version;
  std::int64_t periodUs = 0;
  std::vector<std::int64_t> periodsUs;
  std::vector<ChannelInfo> channels;  // every channel of the device, by position
  std::vector<std::int32_t> enabled;  // positions, increasing: the columns of the data messages
  bool streaming = false;
  std::int64_t stream = 0;  // starts on the publisher
  std::string publisherHost;
  double publisherStartUnix = 0;  // the publisher's start, seconds since 1970 (its host times count from it)
  std::string publisherStartUtc;
};

// Metadata beyond these bounds is damaged (a device has far fewer).
constexpr std::size_t kMaxMetaBytes = 1 << 20;
constexpr std::size_t kMaxMetaText = 256;
constexpr std::size_t kMaxMetaPeriods = 64;

// Reads one metadata message. A newer format gives NewerVersion with the
// words every reader gives; anything else wrong gives Damaged.
vornwire::DecodeResult ParseStreamMeta(std::string_view text, StreamMeta &out);

// The channels the data messages carry (the enabled ones, by position).
std::vector<ChannelInfo> StreamedChannels(const StreamMeta &meta);
// What a recording's file depends on: the streamed channels (names, units,
// ranges) and the period. Two messages with the same layout go into one file.
bool SameLayout(const StreamMeta &a, const StreamMeta &b);
// The device as the outputs name it.
DeviceIdentity IdentityOf(const StreamMeta &meta);
// "2 channel(s) every 2 ms"
std::string LayoutText(const StreamMeta &meta);

}  // namespace vornctl
