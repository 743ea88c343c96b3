// The transmit path: one bounded write routine and the encoders of the device's
// command lines (a colon, a capital letter, maybe digits, a line end).
#pragma once

#include <cstdint>
#include <vector>

namespace OpenPlotr {

class COMPort;

// Every command costs at most this long; the S loops are paced by it.
inline constexpr std::uint32_t kWriteBoundMs = 20;

// True when the bytes went out within kWriteBoundMs. A write given up is cancelled first.
bool WritePort(COMPort &port, const char *bytes, std::int32_t length);
// ':' letter LF.
bool SendCommand(COMPort &port, char letter);
// ':' 'P' position in decimal LF; the device's period positions are 0 to 99.
bool SendPeriodEntry(COMPort &port, std::int32_t position);
// ':' 'U' one '1' or '0' per field CR; every digit is sent, however many fields.
void SendFieldMask(COMPort &port, const std::vector<bool> &mask);

}  // namespace OpenPlotr
