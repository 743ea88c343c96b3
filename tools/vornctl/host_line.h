// The driver's sample lines: "@ " and the enabled channels' scaled values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vornctl {

// True when line is "@ " followed by exactly `expected` comma-separated
// decimal integers (32-bit, optional minus sign). One comma may follow the
// last value: the driver writes it when the last position is not enabled and
// after a missing value ("0,"). values receives the integers.
bool ParseHostLine(std::string_view line, std::size_t expected, std::vector<std::int32_t> &values);

}  // namespace vornctl
