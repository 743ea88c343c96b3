#pragma once
// The text of every line the device sends, without its CR LF. Built only from
// the device's own profile: nothing here is shared with the host side.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "profiles.h"

namespace VornSim {

// V,<major>,<minor>,<build>,<firmware revision>[,<product name>]
std::string VersionLine(const DeviceProfile &profile, std::string_view firmware);
// Field names: the counter, every channel, then CRC when the profile has one.
std::string FieldLine(const DeviceProfile &profile);
// [EndOfCycle,]<seconds>,... : the period choices in the order of their positions.
std::string PeriodLine(const DeviceProfile &profile);
// Channel names (counter first, CRC last when present); shortBy drops names
// before the CRC, a negative value appends made-up ones.
std::string NamesLine(const DeviceProfile &profile, int shortBy = 0);
std::string UnitsLine(const DeviceProfile &profile);
std::string MaximaLine(const DeviceProfile &profile);
std::string MinimaLine(const DeviceProfile &profile);

// CRC-16/CCITT-FALSE (poly 0x1021, init 0xFFFF) of the text before the CRC
// field, the separating comma excluded.
std::uint16_t Crc16(std::string_view text);

struct SampleRequest {
  std::uint64_t index = 0;  // field 0: the sample counter
  double seconds = 0.0;     // device time of the sample
  std::uint64_t seed = 1;
  std::vector<bool> mask;     // field selection from U; empty selects all
  int missingChannel = -1;    // channel (1-based field) sent as "*", -1 for none
  std::string trailingField;  // extra field after everything else, empty for none
};

std::string DataLine(const DeviceProfile &profile, const SampleRequest &request);

}  // namespace VornSim
