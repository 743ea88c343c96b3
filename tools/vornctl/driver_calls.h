// Small helpers over the sixteen exports, used the way a host uses them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/hostlib/vorn_library.h"

namespace vornctl {

// The driver's general message (GetLastErrorMsg(-1)), size then copy.
std::string GeneralMessage(const vorn_host::VornLibrary &lib);

// The driver's message as its own words in vornctl's: quoted, on one line.
std::string DriverSays(const std::string &message);

// What the driver's general message says about the last device it tried;
// vornctl's own advice must not contradict it.
enum class DriverVerdict { WrongFirmware, NotResponding, Other };
DriverVerdict ReadVerdict(const std::string &generalMessage);

// Runs FindDevice until it reports no more; the indexes it handed out.
std::vector<std::int32_t> FindAllDevices(const vorn_host::VornLibrary &lib);

// One DeviceCommand call with a record of its own. The text buffer is cleared
// first because the driver leaves it untouched for an empty reply.
struct CommandReply {
  bool ok = false;
  std::string text;
  std::int32_t intResult = 0;
  std::optional<float> floatResult;  // empty when the driver wrote none
};
CommandReply RunCommand(const vorn_host::VornLibrary &lib, std::int32_t index, std::uint32_t code,
                        std::int32_t argument = 0);

}  // namespace vornctl
