// The little JSON that list --json and info --json write.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vornctl {

// A JSON string literal, quotes included. Bytes that are not valid UTF-8
// cannot come from the driver's ASCII answers; they are passed through.
std::string JsonString(std::string_view text);
// A number, or null.
std::string JsonNumber(std::optional<double> value);

}  // namespace vornctl
