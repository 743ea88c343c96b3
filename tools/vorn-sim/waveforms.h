#pragma once
// Deterministic test signals. A value depends only on the channel's settings,
// the sample time, the sample index and the seed, never on call order, so a
// run can be reproduced exactly from its command sequence.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace VornSim {

// The first four are the exact test signals; the last three look like the
// physiology they stand for and are what the default device sends.
enum class Wave { Sine, Ramp, Square, Noise, Constant, Ecg, Breath, Drift };

std::optional<Wave> ParseWave(std::string_view name);
const char *WaveName(Wave wave);

struct WaveInput {
  Wave wave = Wave::Sine;
  double lo = 0.0;  // signal stays strictly inside lo..hi
  double hi = 100.0;
  // Beats, breaths or (drift) the slowest swing per second.
  double frequencyHz = 1.0;
  int channelIndex = 0;  // decorrelates noise and phase between channels
};

double WaveValue(const WaveInput &in, double seconds, std::uint64_t sampleIndex, std::uint64_t seed);

// Fixed-point text in the classic "C" form (no grouping, '.' as decimal point).
std::string FormatFixed(double value, int decimals);

}  // namespace VornSim
