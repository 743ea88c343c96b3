// The device's command frames: a colon, a capital letter, maybe digits, a line end.
// The session writes them to its port; nothing here knows about ports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace OpenPlotr {

// ':' letter LF.
std::string CommandFrame(char letter);
// ':' 'P' position in decimal LF; the device's period positions are 0 to 99.
// Empty for a negative position, which has no frame.
std::string PeriodEntryFrame(std::int32_t position);
// ':' 'U' one '1' or '0' per field CR; every digit is sent, however many fields.
std::string FieldMaskFrame(const std::vector<bool> &mask);

}  // namespace OpenPlotr
