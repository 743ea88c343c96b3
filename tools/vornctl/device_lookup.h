// Finding device N and reading its self-description, for info, record and demo.
#pragma once

#include <cstdint>
#include <string>

#include "tools/hostlib/vorn_library.h"
#include "tools/vornctl/device_description.h"

namespace vornctl {

// Runs FindDevice until it says no more, then describes device `wanted`.
bool DescribeDevice(const vorn_host::VornLibrary &lib, std::int32_t wanted, DeviceDescription &out,
                    std::string &error);

}  // namespace vornctl
