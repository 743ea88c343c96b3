// The host's side of a soak session: the library's exports as a host calls
// them, and the checks of what one session delivered.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "tools/hostcheck/line_check.h"
#include "tools/hostlib/vorn_library.h"
#include "tools/vorn-soak/options.h"
#include "tools/vorn-soak/result.h"
#include "tools/vorn-soak/sim_device.h"
#include "vorn.h"

namespace vorn_soak {

using vorn_host::VornLibrary;

// Room for the longest line a host reads.
constexpr int kReadBuffer = 8192;

void SetPorts(const std::string &value);
bool LoadLibrary(VornLibrary &lib, const Options &o, Result &r);

// The host's side of one session.
struct Host {
  VornLibrary &lib;

  bool Command(std::int32_t index, std::uint32_t code, std::int32_t argument = 0) {
    CommandRecord r{};
    r.argument = argument;
    return lib.DeviceCommand(index, code, &r) == 1;
  }
  std::int32_t Int(std::int32_t index, std::uint32_t code, std::int32_t argument = 0) {
    CommandRecord r{};
    r.argument = argument;
    r.intResult = -1;
    return lib.DeviceCommand(index, code, &r) == 1 ? r.intResult : -1;
  }
  std::string Text(std::int32_t index, std::uint32_t code) {
    char buffer[512] = {};
    CommandRecord r{};
    r.textBuffer = buffer;
    r.textLength = sizeof buffer;
    return lib.DeviceCommand(index, code, &r) == 1 ? std::string(buffer) : std::string();
  }
  std::string GeneralMessage() {
    const std::int32_t size = lib.GetLastErrorMsg(-1, nullptr);
    if (size <= 0 || size > 65536) return {};
    std::vector<char> buffer(static_cast<std::size_t>(size) + 1, '\0');
    lib.GetLastErrorMsg(-1, buffer.data());
    return buffer.data();
  }
  // Finds and initialises the first device of the current list; -1 with a reason when it fails.
  std::int32_t FindAndInitialise(std::string &error) {
    std::int32_t index = -1;
    if (lib.FindDevice(&index) != 1) {
      error = "FindDevice found no device";
      return -1;
    }
    if (lib.Initialise(index) != 1) {
      error = "Initialise failed: " + GeneralMessage();
      return -1;
    }
    return index;
  }
  // Enables every channel and selects the fastest period; the enabled positions are returned.
  std::vector<int> PrepareStream(std::int32_t index, std::string &error) {
    std::vector<int> enabled;
    const std::int32_t last = Int(index, VORN_CMD_LAST_CHANNEL);
    for (std::int32_t p = 1; p <= last; ++p) {
      if (!Command(index, VORN_CMD_ENABLE_CHANNEL, p)) {
        error = "enable channel failed";
        return {};
      }
      enabled.push_back(p);
    }
    long fastest = 0;
    std::stringstream list(Text(index, VORN_CMD_PERIOD_LIST));
    for (std::string item; std::getline(list, item, ',');) {
      const long v = std::strtol(item.c_str(), nullptr, 10);
      if (v > 0 && (fastest == 0 || v < fastest)) fastest = v;
    }
    if (fastest > 0) Command(index, VORN_CMD_SELECT_PERIOD, static_cast<std::int32_t>(fastest));
    return enabled;
  }
};

// Reads lines until the deadline; false when a read returned something that is not a line.
void ReadFor(VornLibrary &lib, std::int32_t index, Clock::duration span, std::vector<std::string> &delivered,
             std::uint32_t timeoutMs = 200);
void Drain(VornLibrary &lib, std::int32_t index, std::vector<std::string> &delivered, std::uint32_t timeoutMs = 100);

// Checks what one session delivered against what its device sent since the last check.
MatchResult Check(Sim &sim, const std::vector<int> &enabled, const std::vector<std::string> &delivered,
                  bool consecutive, Result &result, const std::string &where, long *sentOut = nullptr);

// Enables every channel at the fastest period and starts the stream, counting only the
// lines sent from now on; the enabled positions, or none when it failed (recorded).
std::vector<int> StartStream(Host &host, Sim &sim, std::int32_t index, Result &result, const std::string &where);

// A stream session of a given length on an initialised device, checked; false when the session failed.
bool StreamChecked(Host &host, Sim &sim, std::int32_t index, Clock::duration span, bool consecutive, Result &result,
                   const std::string &where, long *sentOut = nullptr);

}  // namespace vorn_soak
