#pragma once
// What a simulated device says about itself: its channels, period choices,
// version line and whether its data lines carry a CRC field.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "waveforms.h"

namespace VornSim {

struct Channel {
  std::string name;
  std::string unit = "na";      // sent as is; "na" means no unit
  std::string maxText = "100";  // sent as is; "na" means no limit
  std::string minText = "0";
  double lo = 0.0;  // range the generated signal stays in
  double hi = 100.0;
  Wave wave = Wave::Sine;
  double frequencyHz = 1.0;
  int decimals = 2;
};

struct PeriodChoice {
  std::string text;  // as sent on the period line, in seconds
  double seconds = 0.0;
};

struct DeviceProfile {
  std::string name;
  std::string summary;
  // Field 0 of every data line: the device's sample counter.
  std::string counterName = "Count";
  std::string counterUnit = "cnt";
  std::string counterMax = "4294967295";
  std::string counterMin = "0";
  std::vector<Channel> channels;
  bool crcField = false;
  bool endOfCycle = true;
  std::vector<PeriodChoice> periods;
  std::string versionMajor = "1";
  std::string versionMinor = "4";
  std::string versionBuild = "27";
  std::string firmware = "1";
  std::optional<std::string> product;

  int FieldCount() const { return 1 + static_cast<int>(channels.size()) + (crcField ? 1 : 0); }
};

const std::vector<DeviceProfile> &BuiltinProfiles();
const DeviceProfile *FindProfile(std::string_view name);

// "NAME[:UNIT[:MIN:MAX[:WAVE[:FREQ[:DECIMALS]]]]]" items separated by ';'.
bool ParseChannelList(std::string_view given, std::vector<Channel> &out, std::string &error);
// The period line as the device will send it: "[EndOfCycle,]SECONDS,...".
bool ParsePeriodList(std::string_view given, bool &endOfCycle, std::vector<PeriodChoice> &out, std::string &error);
// Rejects texts that would break the line protocol (commas, line ends, control bytes).
bool IsSafeFieldText(std::string_view text);
// A profile the device could not describe consistently (no period choice, no channel, ...).
bool ValidateProfile(const DeviceProfile &profile, std::string &error);

}  // namespace VornSim
