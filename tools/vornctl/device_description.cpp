#include "tools/vornctl/device_description.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "tools/vornctl/console.h"
#include "tools/vornctl/driver_calls.h"
#include "tools/vornctl/period_choices.h"
#include "tools/vornctl/port_advice.h"
#include "tools/vornctl/wait_notice.h"
#include "vorn.h"

namespace vornctl {

namespace {

// More positions than any device describes; beyond it the count is junk.
constexpr std::int32_t kMaxChannels = 1024;

std::string Failure(const vorn_host::VornLibrary &lib, const std::string &what) {
  return what + ": " + GeneralMessage(lib);
}

// The file lives beside the host program, here vornctl.
constexpr char kFirmwareAdvice[] =
    "the driver admits a device only when its firmware revision equals lcrev in section [required] of "
    "Devices/VornFirmwareVer.ini beside vornctl (1 without that file)";

// The driver answers a command at once when the description is complete
// and only after waiting 15 s for it when it is not.
constexpr double kIncompleteAfterSeconds = 10.0;

// The driver marks a device whose names do not match its channel count as
// not responding; its units, maxima and minima are then never taken.
constexpr char kNotRespondingPrefix[] = "The Vorn Device is not responding.";

std::string WhatIsMissing(const vorn_host::VornLibrary &lib) {
  if (GeneralMessage(lib).rfind(kNotRespondingPrefix, 0) == 0) {
    return "its channel names do not match its channel count, so its units, maxima and minima never reached "
           "the driver";
  }
  return "some of its channel names, units, maxima, minima or sample periods never reached the driver";
}

}  // namespace

bool InitialiseDevice(const vorn_host::VornLibrary &lib, std::int32_t index, std::string &error) {
  const DevicePort where = LocateDevice(index);
  if (const std::string problem = PortProblemBeforeOpen(where.path); !problem.empty()) {
    error = "cannot use the device: " + problem;
    return false;
  }
  WaitNotice notice(InitialiseWaitText(index, where.serial, where.path), IsTerminal(stderr));
  const bool ok = lib.Initialise(index) == 1;
  notice.Finish();
  if (ok) return true;
  const std::string message = GeneralMessage(lib);
  error = "Initialise failed; " + DriverSays(message);
  // Advice about the port would contradict a driver that heard the device.
  if (ReadVerdict(message) == DriverVerdict::WrongFirmware) {
    error += "\n  " + std::string(kFirmwareAdvice);
  } else if (const std::string problem = PortProblemAfterFailure(where.path); !problem.empty()) {
    error += "\n  " + problem;
  }
  return false;
}

bool ReadIdentity(const vorn_host::VornLibrary &lib, std::int32_t index, DeviceIdentity &out, std::string &error) {
  out = DeviceIdentity{};
  out.index = index;
  std::int32_t id = 0;
  if (lib.GetUniqueID(index, &id) == 1) out.uniqueId = id;
  if (!InitialiseDevice(lib, index, error)) return false;
  const auto asked = std::chrono::steady_clock::now();
  const CommandReply serial = RunCommand(lib, index, VORN_CMD_SERIAL_TEXT);
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
  if (!serial.ok) {
    error = Failure(lib, "the device did not describe itself");
    return false;
  }
  out.serial = serial.text;
  if (took >= kIncompleteAfterSeconds) {
    out.incomplete = true;
    error = "the device's self-description is incomplete: " + WhatIsMissing(lib) +
            ". vornctl stops asking (each question would wait 15 s); restart the device, and if that does not "
            "help its firmware needs attention";
    return false;
  }
  out.product = RunCommand(lib, index, VORN_CMD_PRODUCT_NAME).text;
  out.version = RunCommand(lib, index, VORN_CMD_VERSION_TEXT).text;
  return true;
}

bool ReadDescription(const vorn_host::VornLibrary &lib, std::int32_t index, DeviceDescription &out,
                     std::string &error) {
  out = DeviceDescription{};
  if (!ReadIdentity(lib, index, out.identity, error)) return false;

  const CommandReply last = RunCommand(lib, index, VORN_CMD_LAST_CHANNEL);
  if (!last.ok) {
    error = Failure(lib, "the device did not report its channels");
    return false;
  }
  if (last.intResult < 0 || last.intResult > kMaxChannels) {
    error = "the driver reported an impossible last channel index " + std::to_string(last.intResult);
    return false;
  }
  for (std::int32_t p = 1; p <= last.intResult; ++p) {
    ChannelInfo c;
    c.position = p;
    c.name = RunCommand(lib, index, VORN_CMD_CHANNEL_NAME, p).text;
    c.unit = RunCommand(lib, index, VORN_CMD_CHANNEL_UNIT, p).text;
    const CommandReply lo = RunCommand(lib, index, VORN_CMD_CHANNEL_MINIMUM, p);
    const CommandReply hi = RunCommand(lib, index, VORN_CMD_CHANNEL_MAXIMUM, p);
    if (lo.floatResult && hi.floatResult && std::isfinite(*lo.floatResult) && std::isfinite(*hi.floatResult)) {
      c.hasRange = true;
      c.minimum = *lo.floatResult;
      c.maximum = *hi.floatResult;
    }
    c.rangeText = RunCommand(lib, index, VORN_CMD_CHANNEL_RANGE, p).text;
    if (c.name.empty()) c.name = "ch" + std::to_string(p);
    out.channels.push_back(std::move(c));
  }

  const CommandReply periods = RunCommand(lib, index, VORN_CMD_PERIOD_LIST);
  const auto parsed = ParsePeriodList(periods.text);
  if (!periods.ok || !parsed) {
    error = "the driver's period list '" + periods.text + "' cannot be read";
    return false;
  }
  out.periodsUs = *parsed;

  const CommandReply controls = RunCommand(lib, index, VORN_CMD_CONTROL_LIST, 0);
  if (controls.ok && !controls.text.empty()) out.controlListBytes = controls.text.size();
  return true;
}

std::string UniqueIdText(const std::optional<std::int32_t> &id) {
  if (!id) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(*id));
  return text;
}

}  // namespace vornctl
