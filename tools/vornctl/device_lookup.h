// Finding the devices a command names and reading their self-descriptions,
// for info, record and demo.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tools/hostlib/vorn_library.h"
#include "tools/vornctl/device_description.h"

namespace vornctl {

// Runs FindDevice until it says no more; with none, the error holds the
// driver's general message and vornctl's advice.
bool FindDevices(const vorn_host::VornLibrary &lib, std::vector<std::int32_t> &found, std::string &error);

// A device named by its index from list, or by its serial text (which
// means initialising the devices to ask them; an index touches only that
// device). usage is set when the name cannot be a device at all.
bool ResolveDevice(const vorn_host::VornLibrary &lib, const std::vector<std::int32_t> &found, const std::string &name,
                   std::int32_t &index, std::string &error);

// The devices a command names by index or serial text, each once, or with all
// every device found. Returns 0, or the exit code for error.
int ChooseDevices(const vorn_host::VornLibrary &lib, bool all, const std::vector<std::string> &names,
                  std::vector<std::int32_t> &chosen, std::string &error);

// A unique identifier that several found devices share: the driver makes it
// from part of the serial number only, and hosts store it, so the rule stays
// and vornctl names devices by their serial text instead.
struct SharedId {
  std::int32_t id = 0;
  std::vector<std::int32_t> devices;
};
std::vector<SharedId> SharedUniqueIds(const std::vector<std::pair<std::int32_t, std::int32_t>> &indexAndId);
std::vector<SharedId> SharedUniqueIds(const vorn_host::VornLibrary &lib, const std::vector<std::int32_t> &found);
std::string SharedIdWarning(const SharedId &shared);

// The serial text the driver gives a serial number (what follows its first
// three characters), for a device that cannot be asked; empty when unknown.
std::string SerialTextOf(const std::string &serialNumber);

// Describes device `wanted`, a member of found.
bool DescribeDevice(const vorn_host::VornLibrary &lib, std::int32_t wanted, DeviceDescription &out, std::string &error);

}  // namespace vornctl
