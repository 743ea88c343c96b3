#include "options.h"

#include <charconv>
#include <cmath>

#include "device_lines.h"

namespace VornSim {

namespace {

bool ReadInt(const std::string& text, long long low, long long high, long long& out) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return !text.empty() && ec == std::errc() && ptr == text.data() + text.size() && out >= low && out <= high;
}

} // namespace

bool ParseOptions(const std::vector<std::string>& args, SimOptions& o, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (name.rfind("--", 0) == 0) {
      const size_t eq = name.find('=');
      if (eq != std::string::npos) {
        inlineValue = name.substr(eq + 1);
        name.resize(eq);
      }
    }
    auto flag = [&]() {
      if (inlineValue) error = name + " takes no value";
      return !inlineValue;
    };
    std::string value;
    auto take = [&]() {
      if (inlineValue) value = *inlineValue;
      else if (i + 1 < args.size()) value = args[++i];
      else {
        error = name + " needs a value";
        return false;
      }
      return true;
    };
    auto integer = [&](long long low, long long high, auto& out) {
      long long v = 0;
      if (!take()) return false;
      if (!ReadInt(value, low, high, v)) {
        error = name + " needs a whole number from " + std::to_string(low) + " to " + std::to_string(high);
        return false;
      }
      out = static_cast<std::remove_reference_t<decltype(out)>>(v);
      return true;
    };

    bool ok = true;
    if (name == "-h" || name == "--help") ok = flag() && (o.help = true);
    else if (name == "--list-profiles") ok = flag() && (o.listProfiles = true);
    else if (name == "--describe") ok = flag() && (o.describe = true);
    else if (name == "--serial") ok = take() && (o.serial = value, true);
    else if (name == "--profile") ok = take() && (o.profile = value, true);
    else if (name == "--firmware") ok = take() && (o.firmware = value, true);
    else if (name == "--product") ok = take() && (o.product = value, true);
    else if (name == "--no-product") ok = flag() && (o.noProduct = true);
    else if (name == "--channels") ok = take() && (o.channels = value, true);
    else if (name == "--periods") ok = take() && (o.periods = value, true);
    else if (name == "--crc") ok = flag() && (o.crc = true, true);
    else if (name == "--no-crc") ok = flag() && (o.crc = false, true);
    else if (name == "--cycle-ms") ok = integer(1, 60000, o.cycleMs);
    else if (name == "--seed") ok = integer(0, INT64_MAX, o.seed);
    else if (name == "--fault") ok = take() && (o.faults.push_back(value), true);
    else if (name == "--fault-every") ok = integer(1, 1000000, o.faultEvery);
    else if (name == "--vanish-action") {
      ok = take();
      if (ok && value != "exit" && value != "reopen") {
        error = "--vanish-action is exit or reopen";
        ok = false;
      }
      o.vanishReopen = value == "reopen";
    }
    else if (name == "--port-watch") {
      ok = take();
      if (ok && value != "inotify" && value != "hangup") {
        error = "--port-watch is inotify or hangup";
        ok = false;
      }
      o.portWatch = value == "hangup" ? PortWatch::Hangup : PortWatch::Inotify;
    }
    else if (name == "--reopen-delay-ms") ok = integer(0, 600000, o.reopenDelayMs);
    else if (name == "--link") ok = take() && (o.link = value, true);
    else if (name == "--trace") ok = take() && (o.trace = value, true);
    else if (name == "--sent-log") ok = take() && (o.sentLog = value, true);
    else if (name == "--exit-after") {
      ok = take();
      char* end = nullptr;
      o.exitAfter = ok ? std::strtod(value.c_str(), &end) : 0.0;
      if (ok && (value.empty() || *end != '\0' || !std::isfinite(o.exitAfter) || o.exitAfter <= 0.0 || o.exitAfter > 1e7)) {
        error = "--exit-after needs a number of seconds above 0";
        ok = false;
      }
    }
    else {
      error = "unknown option '" + args[i] + "' (see --help)";
      ok = false;
    }
    if (!ok) {
      if (error.empty()) error = "bad use of " + name;
      return false;
    }
  }
  // The serial is printed as SERIAL=PATH: it must not hide the separator.
  if (o.serial.empty() || o.serial.find_first_of("= \t\r\n") != std::string::npos) {
    error = "--serial must be non-empty, without '=' or white space";
    return false;
  }
  return true;
}

bool BuildSettings(const SimOptions& o, DeviceSettings& settings, std::string& error) {
  const DeviceProfile* base = FindProfile(o.profile);
  if (!base) {
    error = "unknown profile '" + o.profile + "' (see --list-profiles)";
    return false;
  }
  DeviceProfile profile = *base;
  if (o.channels) {
    if (!ParseChannelList(*o.channels, profile.channels, error)) return false;
    profile.name += "+channels";
  }
  if (o.periods && !ParsePeriodList(*o.periods, profile.endOfCycle, profile.periods, error)) return false;
  if (o.crc) profile.crcField = *o.crc;
  if (o.firmware) profile.firmware = *o.firmware;
  if (o.product) profile.product = *o.product;
  if (o.noProduct) profile.product.reset();
  if (!ValidateProfile(profile, error)) return false;

  FaultSet faults;
  faults.every = o.faultEvery;
  for (const std::string& given : o.faults)
    if (!ApplyFault(given, faults, error)) return false;

  settings.profile = std::move(profile);
  settings.faults = faults;
  settings.seed = o.seed;
  settings.cycle = MillisToMicros(o.cycleMs);
  return true;
}

std::string ProfileList() {
  std::string text;
  for (const DeviceProfile& p : BuiltinProfiles()) {
    std::string head = "  " + p.name;
    head.resize(std::max<size_t>(head.size() + 1, 12), ' ');
    text += head + p.summary + "\n";
  }
  return text;
}

std::string DescribeDevice(const DeviceSettings& s) {
  const DeviceProfile& p = s.profile;
  const std::string firmware = s.faults.wrongFirmware.empty() ? p.firmware : s.faults.wrongFirmware;
  std::string text;
  for (const std::string& line : {VersionLine(p, firmware), FieldLine(p), PeriodLine(p), NamesLine(p, s.faults.namesShortBy),
                                  UnitsLine(p), MaximaLine(p), MinimaLine(p)})
    text += line + "\n";
  return text;
}

} // namespace VornSim
