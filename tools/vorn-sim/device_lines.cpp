#include "device_lines.h"

namespace VornSim {

namespace {

template <typename Pick>
std::string Join(const DeviceProfile &profile, const std::string &counter, const std::string &crc, Pick pick) {
  std::string line = counter;
  for (const Channel &c : profile.channels) line += "," + pick(c);
  if (profile.crcField) line += "," + crc;
  return line;
}

}  // namespace

std::string VersionLine(const DeviceProfile &profile, std::string_view firmware) {
  std::string line = "V," + profile.versionMajor + "," + profile.versionMinor + "," + profile.versionBuild + ",";
  line += firmware;
  if (profile.product) line += "," + *profile.product;
  return line;
}

std::string FieldLine(const DeviceProfile &profile) {
  return Join(profile, profile.counterName, "CRC", [](const Channel &c) { return c.name; });
}

std::string PeriodLine(const DeviceProfile &profile) {
  std::string line = profile.endOfCycle ? "EndOfCycle" : "";
  for (const PeriodChoice &p : profile.periods) {
    if (!line.empty()) line += ",";
    line += p.text;
  }
  return line;
}

std::string NamesLine(const DeviceProfile &profile, int shortBy) {
  std::vector<std::string> names{profile.counterName};
  for (const Channel &c : profile.channels) names.push_back(c.name);
  for (int i = 0; i < shortBy && names.size() > 1; ++i) names.pop_back();
  for (int i = 0; i < -shortBy; ++i) names.push_back("Extra" + std::to_string(i + 1));
  if (profile.crcField) names.push_back("CRC");
  std::string line;
  for (size_t i = 0; i < names.size(); ++i) line += (i ? "," : "") + names[i];
  return line;
}

std::string UnitsLine(const DeviceProfile &profile) {
  return Join(profile, profile.counterUnit, "na", [](const Channel &c) { return c.unit; });
}

std::string MaximaLine(const DeviceProfile &profile) {
  return Join(profile, profile.counterMax, "65535", [](const Channel &c) { return c.maxText; });
}

std::string MinimaLine(const DeviceProfile &profile) {
  return Join(profile, profile.counterMin, "0", [](const Channel &c) { return c.minText; });
}

std::uint16_t Crc16(std::string_view text) {
  std::uint16_t crc = 0xFFFF;
  for (unsigned char byte : text) {
    crc ^= static_cast<std::uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021) : static_cast<std::uint16_t>(crc << 1);
  }
  return crc;
}

std::string DataLine(const DeviceProfile &profile, const SampleRequest &request) {
  auto selected = [&](size_t field) { return field >= request.mask.size() || request.mask[field]; };
  std::string line;
  auto add = [&](const std::string &text) {
    if (!line.empty()) line += ',';
    line += text;
  };
  // The counter wraps like the device's 32-bit register.
  if (selected(0)) add(std::to_string(request.index & 0xFFFFFFFFu));
  for (size_t i = 0; i < profile.channels.size(); ++i) {
    const size_t field = i + 1;
    if (!selected(field)) continue;
    if (static_cast<int>(field) == request.missingChannel) {
      add("*");
      continue;
    }
    const Channel &c = profile.channels[i];
    const WaveInput in{c.wave, c.lo, c.hi, c.frequencyHz, static_cast<int>(field)};
    add(FormatFixed(WaveValue(in, request.seconds, request.index, request.seed), c.decimals));
  }
  if (profile.crcField && selected(profile.channels.size() + 1)) {
    const std::uint16_t crc = Crc16(line);
    add(std::to_string(crc));
  }
  if (!request.trailingField.empty()) add(request.trailingField);
  return line;
}

}  // namespace VornSim
