#include "profiles.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cmath>

namespace VornSim {

namespace {

Channel Make(std::string name, std::string unit, double lo, double hi, Wave wave, double hz, int decimals) {
  Channel c;
  c.name = std::move(name);
  c.unit = std::move(unit);
  c.lo = lo;
  c.hi = hi;
  c.maxText = FormatFixed(hi, 0);
  c.minText = FormatFixed(lo, 0);
  c.wave = wave;
  c.frequencyHz = hz;
  c.decimals = decimals;
  return c;
}

// Bounds announced as "na" are read by the host as -32767..32767.
Channel Unbounded(std::string name, std::string unit, double amplitude, Wave wave, double hz) {
  Channel c = Make(std::move(name), std::move(unit), -amplitude, amplitude, wave, hz, 1);
  c.maxText = "na";
  c.minText = "na";
  return c;
}

std::vector<PeriodChoice> Periods(std::initializer_list<const char *> texts) {
  std::vector<PeriodChoice> out;
  for (const char *t : texts) out.push_back({t, std::strtod(t, nullptr)});
  return out;
}

// The four channels' announced ranges; every profile built on them keeps these.
std::vector<Channel> FourChannels() {
  return {Make("ECG", "mV", -5, 5, Wave::Sine, 1.2, 3), Make("Resp", "l/min", 0, 60, Wave::Ramp, 0.25, 1),
          Make("SpO2", "%", 0, 100, Wave::Square, 0.5, 0), Make("Temp", "degC", 30, 42, Wave::Noise, 1, 2)};
}

// The demo is the first thing a user sees, so the default device looks like a
// patient: a heartbeat at 72/min, breathing at 15/min, a saturation and a
// temperature that wander slowly. The ranges announced stay as above; the
// signals keep well inside them.
std::vector<Channel> BodyChannels() {
  std::vector<Channel> channels = FourChannels();
  auto signal = [&](std::size_t i, double lo, double hi, Wave wave, double hz) {
    channels[i].lo = lo;
    channels[i].hi = hi;
    channels[i].wave = wave;
    channels[i].frequencyHz = hz;
  };
  signal(0, -1.5, 1.5, Wave::Ecg, 1.2);  // R peak about 1.35 mV
  signal(1, 6, 34, Wave::Breath, 0.25);
  // The drift spans 90 % of lo..hi; these keep it within 95..99 % and 36..37.5 degC.
  signal(2, 94.9, 99.1, Wave::Drift, 1.0 / 240);
  signal(3, 35.95, 37.55, Wave::Drift, 1.0 / 1800);
  return channels;
}

std::vector<DeviceProfile> MakeProfiles() {
  std::vector<DeviceProfile> all;

  DeviceProfile base;
  base.name = "default";
  base.summary =
      "4 channels like a patient's: ECG heartbeat 72/min, breathing 15/min, SpO2 95-99 % and "
      "temperature 36-37.5 degC drifting slowly; EndOfCycle; no CRC or product";
  base.channels = BodyChannels();
  base.periods = Periods({"0.002", "0.005", "0.01"});
  all.push_back(base);

  // The profiles below keep exact, easily checked signals for tests.
  DeviceProfile test = base;
  test.name = "test";
  test.summary = "the default channels and ranges with exact test signals: sine, ramp, square, noise";
  test.channels = FourChannels();
  all.push_back(test);

  DeviceProfile crc = test;
  crc.name = "crc";
  crc.summary = "the test profile plus a trailing CRC field; product name given";
  crc.crcField = true;
  crc.product = "Quellograph CRC";
  all.push_back(crc);

  DeviceProfile na = test;
  na.name = "na";
  na.summary = "\"na\" units and limits between named ones; product name given";
  na.channels = {Make("Pressure", "mmHg", 0, 300, Wave::Sine, 1.1, 1),
                 Unbounded("Marker", "na", 1000, Wave::Square, 0.5), Unbounded("Flow", "ml/s", 500, Wave::Ramp, 0.3),
                 Make("Pulse", "na", 20, 250, Wave::Noise, 1, 0)};
  na.product = "Quellograph NA";
  all.push_back(na);

  DeviceProfile many = test;
  many.name = "many";
  many.summary = "16 channels, all four waveforms in turn";
  many.channels.clear();
  for (int i = 0; i < 16; ++i) {
    const Wave w = static_cast<Wave>(i % 4);
    many.channels.push_back(Make("Ch" + std::to_string(i + 1), "uV", -1000, 1000, w, 0.5 + 0.25 * i, 1));
  }
  all.push_back(many);

  DeviceProfile nocycle = test;
  nocycle.name = "nocycle";
  nocycle.summary = "no EndOfCycle: position k selects period choice k";
  nocycle.endOfCycle = false;
  nocycle.periods = Periods({"0.001", "0.002", "0.005", "0.01"});
  all.push_back(nocycle);

  DeviceProfile wide = test;
  wide.name = "wide";
  wide.summary = "32 channels (33 fields): more than a 28-digit field mask holds";
  wide.channels.clear();
  for (int i = 0; i < 32; ++i)
    wide.channels.push_back(Make("W" + std::to_string(i + 1), "mV", -10, 10, Wave::Sine, 0.1 * (i + 1), 2));
  all.push_back(wide);

  // What a device writes for these is one byte each, as in Latin-1 (0xB0, 0xB5).
  DeviceProfile units = base;
  units.name = "units";
  units.summary = "units with bytes above 0x7F, one byte each as in Latin-1: degree sign, micro sign";
  units.channels = {Make("Temp",
                         "\xB0"
                         "C",
                         30, 42, Wave::Noise, 1, 2),
                    Make("EEG",
                         "\xB5"
                         "V",
                         -200, 200, Wave::Sine, 10, 1),
                    Make("SpO2", "%", 0, 100, Wave::Square, 0.5, 0)};
  all.push_back(units);

  return all;
}

bool ParseDouble(std::string_view text, double &out) {
  if (text.empty()) return false;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && ptr == text.data() + text.size() && std::isfinite(out);
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    const size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) break;
    start = at + 1;
  }
  return parts;
}

}  // namespace

const std::vector<DeviceProfile> &BuiltinProfiles() {
  static const std::vector<DeviceProfile> profiles = MakeProfiles();
  return profiles;
}

const DeviceProfile *FindProfile(std::string_view name) {
  for (const DeviceProfile &p : BuiltinProfiles())
    if (p.name == name) return &p;
  return nullptr;
}

bool IsSafeFieldText(std::string_view text) {
  for (unsigned char c : text)
    if (c == ',' || c < 0x20 || c == 0x7F) return false;
  return true;
}

bool ParseChannelList(std::string_view given, std::vector<Channel> &out, std::string &error) {
  out.clear();
  for (std::string_view item : Split(given, ';')) {
    const std::vector<std::string_view> parts = Split(item, ':');
    if (parts.size() > 7 || parts[0].empty()) {
      error = "channel item '" + std::string(item) + "' must be NAME[:UNIT[:MIN:MAX[:WAVE[:FREQ[:DECIMALS]]]]]";
      return false;
    }
    Channel c;
    c.name = parts[0];
    if (parts.size() > 1 && !parts[1].empty()) c.unit = parts[1];
    if (parts.size() == 3) {
      error = "channel '" + c.name + "': MIN needs MAX";
      return false;
    }
    if (parts.size() > 3) {
      c.minText = parts[2];
      c.maxText = parts[3];
      const bool minNa = c.minText == "na", maxNa = c.maxText == "na";
      if ((!minNa && !ParseDouble(parts[2], c.lo)) || (!maxNa && !ParseDouble(parts[3], c.hi))) {
        error = "channel '" + c.name + "': MIN and MAX must be numbers or na";
        return false;
      }
      // An "na" bound is read by the host as +-32767; stay well inside it.
      if (minNa) c.lo = maxNa ? -1000.0 : std::min(c.hi - 1.0, -1000.0);
      if (maxNa) c.hi = minNa ? 1000.0 : std::max(c.lo + 1.0, 1000.0);
      if (!(c.lo < c.hi)) {
        error = "channel '" + c.name + "': MIN must be below MAX";
        return false;
      }
    }
    if (parts.size() > 4) {
      auto wave = ParseWave(parts[4]);
      if (!wave) {
        error = "channel '" + c.name + "': unknown waveform '" + std::string(parts[4]) + "'";
        return false;
      }
      c.wave = *wave;
    }
    if (parts.size() > 5 && (!ParseDouble(parts[5], c.frequencyHz) || c.frequencyHz < 0)) {
      error = "channel '" + c.name + "': FREQ must be a number of Hz >= 0";
      return false;
    }
    double decimals = 2;
    if (parts.size() > 6 &&
        (!ParseDouble(parts[6], decimals) || decimals < 0 || decimals > 6 || decimals != std::floor(decimals))) {
      error = "channel '" + c.name + "': DECIMALS must be 0..6";
      return false;
    }
    c.decimals = static_cast<int>(decimals);
    if (!IsSafeFieldText(c.name) || !IsSafeFieldText(c.unit) || c.name == "CRC") {
      error = "channel '" + c.name + "': names and units may not hold commas or control bytes, nor be CRC";
      return false;
    }
    out.push_back(std::move(c));
  }
  return true;
}

bool ParsePeriodList(std::string_view given, bool &endOfCycle, std::vector<PeriodChoice> &out, std::string &error) {
  endOfCycle = false;
  out.clear();
  for (std::string_view field : Split(given, ',')) {
    if (field == "EndOfCycle") {
      if (endOfCycle || !out.empty()) {
        error = "EndOfCycle may appear once, first (it is position 0)";
        return false;
      }
      endOfCycle = true;
      continue;
    }
    PeriodChoice choice{std::string(field), 0.0};
    // Below 0.1 ms the simulator could not keep its schedule.
    if (!ParseDouble(field, choice.seconds) || choice.seconds < 0.0001 || choice.seconds > 60.0) {
      error = "period '" + std::string(field) + "' must be a number of seconds from 0.0001 to 60";
      return false;
    }
    out.push_back(std::move(choice));
  }
  return true;
}

bool ValidateProfile(const DeviceProfile &profile, std::string &error) {
  if (profile.channels.empty()) {
    error = "the device needs at least one channel";
    return false;
  }
  // The host reads an empty period line as nothing at all and would wait for it forever.
  if (profile.periods.empty() && !profile.endOfCycle) {
    error = "the device needs at least one period choice";
    return false;
  }
  // P carries one or two digits, so positions stop at 99.
  if (profile.periods.size() + (profile.endOfCycle ? 1 : 0) > 100) {
    error = "at most 100 period positions fit the P command";
    return false;
  }
  for (const std::string *text :
       {&profile.firmware, &profile.versionMajor, &profile.versionMinor, &profile.versionBuild}) {
    if (!IsSafeFieldText(*text)) {
      error = "version fields may not hold commas or control bytes";
      return false;
    }
  }
  if (profile.product && !IsSafeFieldText(*profile.product)) {
    error = "the product name may not hold commas or control bytes";
    return false;
  }
  return true;
}

}  // namespace VornSim
