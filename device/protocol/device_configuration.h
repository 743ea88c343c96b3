// The device's self-description, as the configuration download reads it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace OpenPlotr {

struct DeviceConfiguration {
  std::vector<std::u16string> channelNames;
  std::vector<std::u16string> channelUnits;  // "na" stored as an empty unit, positions kept
  std::vector<float> channelMaxima;
  std::vector<float> channelMinima;
  std::vector<std::int32_t> periodChoices;
  bool hasCrcField = false;
  std::uint8_t pendingLists = 0x1F;  // bit 0 names, 1 units, 2 maxima, 3 minima, 4 periods
  bool offersEndOfCycle = false;

  bool Complete() const { return pendingLists == 0; }

  // Index of value in periodChoices, shifted by one when position 0 is end-of-cycle; -1 if absent.
  std::int32_t FindPeriodPosition(std::int32_t value) const;
};

// The fields of the version reply; a later download replaces them as a whole.
struct VersionInfo {
  std::u16string firmwareRevision;
  std::u16string versionText;
  std::u16string productName;
};

// The channel positions the host enabled, kept sorted; the decoder reads one snapshot per line.
using EnabledChannels = std::vector<std::int32_t>;

inline constexpr std::u16string_view kEndOfCycle = u"EndOfCycle";
inline constexpr std::u16string_view kDefaultProductName = u"Quellograph";

}  // namespace OpenPlotr
