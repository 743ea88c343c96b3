// The command frames written to a session's port, each within the write bound.
#pragma once

#include <cstdint>
#include <vector>

namespace OpenPlotr {

class COMPort;

// True when the frame went out within the write bound.
bool SendCommand(COMPort &port, char letter);
// False for a negative position, which has no frame.
bool SendPeriodEntry(COMPort &port, std::int32_t position);
void SendFieldMask(COMPort &port, const std::vector<bool> &mask);

}  // namespace OpenPlotr
