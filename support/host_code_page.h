// The code page in which every text handed to the host is converted.
#pragma once

#include <cstdint>

namespace QVX {

// Taken from the process-wide locale snapshot, made on first use.
std::uint32_t HostCodePage();

}  // namespace QVX
