// The device's sample periods as the driver lists them (code 32), and the
// user's --period value matched against them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornctl {

// "9999,4999,2000" -> the values in the order given (the driver lists the
// device's choices last-first). Empty text gives none; nullopt on junk.
std::optional<std::vector<std::int32_t>> ParsePeriodList(std::string_view text);

// The driver turns the device's seconds into microseconds through a 32-bit
// float and truncates, so 0.005 s is listed as 4999. The period the device
// really uses is the listed value or one more; take the one that is the
// rounder decimal number.
std::int64_t NominalPeriodUs(std::int32_t listedUs);

// "2ms", "2000us", "0.002s", or a bare number of milliseconds -> microseconds.
std::optional<double> ParsePeriodArgument(std::string_view text);

// Index into listed of the choice the user asked for: "fastest", "slowest",
// or a period whose nominal value is within 0.5 us of the request.
std::optional<std::size_t> MatchPeriod(std::string_view request, const std::vector<std::int32_t> &listed);

// "2 ms", "800 ms", "1.5 s", "250 us".
std::string FormatPeriod(std::int64_t us);

}  // namespace vornctl
