// Which converter serial numbers belong to Vorn devices, and the identifier the host sees.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace OpenPlotr {

// Compared case-sensitively, VSC first.
inline constexpr std::u16string_view kVscPrefix = u"VSC";
inline constexpr std::u16string_view kA800Prefix = u"A800";

// For a key beginning with "VSC" or "A800": the key without its first three
// characters (an A800 key keeps its last 0). Nothing for any other key.
std::optional<std::u16string> VornSerialRemainder(std::u16string_view key);

// Base-42 hash of the remainder without its first two and last two characters,
// wrapping modulo 2^32. A remainder shorter than two characters gives 0.
std::int32_t UniqueIdFromSerial(std::u16string_view text);

}  // namespace OpenPlotr
