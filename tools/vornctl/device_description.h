// What a device says about itself, read through DeviceCommand.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/hostlib/vorn_library.h"
#include "tools/vornctl/channel_info.h"

namespace vornctl {

struct DeviceIdentity {
  std::int32_t index = -1;
  std::string serial;
  std::string product;
  std::string version;
  std::optional<std::int32_t> uniqueId;
  // The device's self-description never completed: the driver waited its
  // 15 s for it. Every further question would wait as long again.
  bool incomplete = false;
};

struct DeviceDescription {
  DeviceIdentity identity;
  std::vector<ChannelInfo> channels;    // positions 1..last, in order
  std::vector<std::int32_t> periodsUs;  // as listed by code 32
  std::optional<std::size_t> controlListBytes;
};

// Initialise after checking the port where vornctl knows it (missing,
// forbidden, busy), saying what it waits for while the driver does. On
// failure the error holds the driver's words and the one piece of advice
// that fits them.
bool InitialiseDevice(const vorn_host::VornLibrary &lib, std::int32_t index, std::string &error);

// Initialise, then the serial text, product, version and unique id. On
// failure the error holds the driver's general message and vornctl's
// advice. A device whose self-description is incomplete fails after the
// first question (identity.incomplete), with what is missing.
bool ReadIdentity(const vorn_host::VornLibrary &lib, std::int32_t index, DeviceIdentity &out, std::string &error);

// ReadIdentity plus channels, ranges, periods and the control list.
bool ReadDescription(const vorn_host::VornLibrary &lib, std::int32_t index, DeviceDescription &out, std::string &error);

// "0x1A2B3C4D", or "-" when the driver gave no identifier.
std::string UniqueIdText(const std::optional<std::int32_t> &id);

}  // namespace vornctl
