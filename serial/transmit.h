// The transmit path: the one bounded write routine. What the bytes mean is the
// device protocol's business.
#pragma once

#include <cstdint>

namespace OpenPlotr {

class COMPort;

// Every command costs at most this long; the S loops are paced by it.
inline constexpr std::uint32_t kWriteBoundMs = 20;

// True when the bytes went out within kWriteBoundMs. A write given up is cancelled first.
bool WritePort(COMPort &port, const char *bytes, std::int32_t length);

}  // namespace OpenPlotr
