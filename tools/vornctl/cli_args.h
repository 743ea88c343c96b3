// Values of vornctl's options.
#pragma once

#include <optional>
#include <string>

namespace vornctl {

// A whole, non-negative decimal number.
std::optional<int> ParseIndex(const std::string &text);
// A non-negative number of seconds.
std::optional<double> ParseSeconds(const std::string &text);

}  // namespace vornctl
