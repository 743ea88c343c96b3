#pragma once
// Simulator time: microseconds on a monotonic clock. The device-side state
// machine never reads a clock itself; every call is given "now", so tests can
// drive it with any timeline.

#include <cstdint>

namespace VornSim {

using SimMicros = std::int64_t;

constexpr SimMicros MillisToMicros(std::int64_t ms) { return ms * 1000; }

}  // namespace VornSim
