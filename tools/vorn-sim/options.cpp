#include "options.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>

#include "device_lines.h"

namespace VornSim {

namespace {

bool ReadInt(const std::string &text, long long low, long long high, long long &out) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return !text.empty() && ec == std::errc() && ptr == text.data() + text.size() && out >= low && out <= high;
}

}  // namespace

bool ParseOptions(const std::vector<std::string> &args, SimOptions &o, std::string &error) {
  CLI::App app("vorn-sim");
  // The help text is our own (HelpText); CLI11 only reads the words.
  app.set_help_flag();
  auto flag = [&](const std::string &names, bool &target) {
    // "--help=yes" is a mistake, not a way of saying true.
    return app.add_flag(names, target)->disable_flag_override();
  };
  bool crc = false;
  bool noCrc = false;
  std::string cycleMs, seed, faultEvery, vanishAction, portWatch, reopenDelayMs, exitAfter;
  flag("-h,--help", o.help);
  flag("--list-profiles", o.listProfiles);
  flag("--describe", o.describe);
  flag("--no-product", o.noProduct);
  flag("--crc", crc);
  flag("--no-crc", noCrc);
  app.add_option("--serial", o.serial);
  app.add_option("--profile", o.profile);
  app.add_option("--firmware", o.firmware);
  app.add_option("--product", o.product);
  app.add_option("--channels", o.channels);
  app.add_option("--periods", o.periods);
  app.add_option("--cycle-ms", cycleMs);
  app.add_option("--seed", seed);
  app.add_option("--fault", o.faults)->allow_extra_args(false)->take_all();
  app.add_option("--fault-every", faultEvery);
  app.add_option("--vanish-action", vanishAction);
  app.add_option("--port-watch", portWatch);
  app.add_option("--reopen-delay-ms", reopenDelayMs);
  app.add_option("--link", o.link);
  app.add_option("--trace", o.trace);
  app.add_option("--sent-log", o.sentLog);
  app.add_option("--exit-after", exitAfter);
  // Words CLI11 does not know are kept, so the message can name the first.
  app.allow_extras();
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError &e) {
    error = e.what();
    return false;
  }
  if (const std::vector<std::string> unknown = app.remaining(); !unknown.empty()) {
    error = "unknown option '" + unknown.front() + "' (see --help)";
    return false;
  }
  auto given = [&](const char *name) { return app.count(name) > 0; };
  auto integer = [&](const char *name, const std::string &text, long long low, long long high, auto &out) {
    long long v = 0;
    if (!given(name)) return true;
    if (!ReadInt(text, low, high, v)) {
      error = std::string(name) + " needs a whole number from " + std::to_string(low) + " to " + std::to_string(high);
      return false;
    }
    out = static_cast<std::remove_reference_t<decltype(out)>>(v);
    return true;
  };
  if (crc) o.crc = true;
  if (noCrc) o.crc = false;
  if (!integer("--cycle-ms", cycleMs, 1, 60000, o.cycleMs) || !integer("--seed", seed, 0, INT64_MAX, o.seed) ||
      !integer("--fault-every", faultEvery, 1, 1000000, o.faultEvery) ||
      !integer("--reopen-delay-ms", reopenDelayMs, 0, 600000, o.reopenDelayMs))
    return false;
  if (given("--vanish-action")) {
    if (vanishAction != "exit" && vanishAction != "reopen") {
      error = "--vanish-action is exit or reopen";
      return false;
    }
    o.vanishReopen = vanishAction == "reopen";
  }
  if (given("--port-watch")) {
    if (portWatch != "inotify" && portWatch != "hangup") {
      error = "--port-watch is inotify or hangup";
      return false;
    }
    o.portWatch = portWatch == "hangup" ? PortWatch::Hangup : PortWatch::Inotify;
  }
  if (given("--exit-after")) {
    char *end = nullptr;
    o.exitAfter = std::strtod(exitAfter.c_str(), &end);
    if (exitAfter.empty() || *end != '\0' || !std::isfinite(o.exitAfter) || o.exitAfter <= 0.0 || o.exitAfter > 1e7) {
      error = "--exit-after needs a number of seconds above 0";
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

bool BuildSettings(const SimOptions &o, DeviceSettings &settings, std::string &error) {
  const DeviceProfile *base = FindProfile(o.profile);
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
  for (const std::string &given : o.faults)
    if (!ApplyFault(given, faults, error)) return false;

  settings.profile = std::move(profile);
  settings.faults = faults;
  settings.seed = o.seed;
  settings.cycle = MillisToMicros(o.cycleMs);
  return true;
}

std::string ProfileList() {
  std::string text;
  for (const DeviceProfile &p : BuiltinProfiles()) {
    std::string head = "  " + p.name;
    head.resize(std::max<size_t>(head.size() + 1, 12), ' ');
    text += head + p.summary + "\n";
  }
  return text;
}

std::string DescribeDevice(const DeviceSettings &s) {
  const DeviceProfile &p = s.profile;
  const std::string firmware = s.faults.wrongFirmware.empty() ? p.firmware : s.faults.wrongFirmware;
  std::string text;
  for (const std::string &line : {VersionLine(p, firmware), FieldLine(p), PeriodLine(p),
                                  NamesLine(p, s.faults.namesShortBy), UnitsLine(p), MaximaLine(p), MinimaLine(p)})
    text += line + "\n";
  return text;
}

}  // namespace VornSim
