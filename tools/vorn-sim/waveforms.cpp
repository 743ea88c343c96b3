#include "waveforms.h"

#include <charconv>
#include <cmath>
#include <numbers>

namespace VornSim {

std::optional<Wave> ParseWave(std::string_view name) {
  if (name == "sine") return Wave::Sine;
  if (name == "ramp") return Wave::Ramp;
  if (name == "square") return Wave::Square;
  if (name == "noise") return Wave::Noise;
  if (name == "constant") return Wave::Constant;
  if (name == "ecg") return Wave::Ecg;
  if (name == "breath") return Wave::Breath;
  if (name == "drift") return Wave::Drift;
  return std::nullopt;
}

const char *WaveName(Wave wave) {
  switch (wave) {
    case Wave::Sine: return "sine";
    case Wave::Ramp: return "ramp";
    case Wave::Square: return "square";
    case Wave::Noise: return "noise";
    case Wave::Constant: return "constant";
    case Wave::Ecg: return "ecg";
    case Wave::Breath: return "breath";
    case Wave::Drift: return "drift";
  }
  return "?";
}

namespace {

std::uint64_t SplitMix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

double Fraction(double x) { return x - std::floor(x); }

double Bump(double x, double centre, double width) {
  const double d = (x - centre) / width;
  return std::exp(-0.5 * d * d);
}

// One heartbeat over a beat's phase, baseline 0, R peak 1: P, Q, R, S and T
// waves as Gaussian bumps at their usual places in the cycle.
double HeartbeatShape(double phase) {
  const double x = phase < 0.65 ? phase : phase - 1.0;  // P sits just before the R peak
  return 0.12 * Bump(x, -0.17, 0.03) - 0.12 * Bump(x, -0.03, 0.008) + Bump(x, 0.0, 0.01) - 0.25 * Bump(x, 0.035, 0.01) +
         0.28 * Bump(x, 0.3, 0.05);
}

// Tidal breathing from -1 to 1: a smooth inhalation over 40 % of the cycle,
// then a passive exhalation that falls fast and levels off.
double BreathShape(double phase) {
  constexpr double kInhale = 0.4;
  if (phase < kInhale) return -std::cos(std::numbers::pi * phase / kInhale);
  const double fall = (1.0 - std::exp(-(phase - kInhale) / 0.12)) / (1.0 - std::exp(-(1.0 - kInhale) / 0.12));
  return 1.0 - 2.0 * fall;
}

// A slow wander in -1..1: three incommensurate sines, the slowest at frequency.
double DriftShape(double frequencyHz, double seconds, int channelIndex) {
  const double t = frequencyHz * seconds;
  const double offset = channelIndex * 0.37;
  return 0.6 * std::sin(2.0 * std::numbers::pi * (t + offset)) +
         0.3 * std::sin(2.0 * std::numbers::pi * (2.71 * t + 2.0 * offset)) +
         0.1 * std::sin(2.0 * std::numbers::pi * (7.39 * t + 3.0 * offset));
}

}  // namespace

double WaveValue(const WaveInput &in, double seconds, std::uint64_t sampleIndex, std::uint64_t seed) {
  // Keep a 5% margin on both sides so that rounding to the printed decimals
  // can never leave the announced range.
  const double mid = (in.lo + in.hi) / 2.0;
  const double half = (in.hi - in.lo) / 2.0 * 0.9;
  const double phase = Fraction(in.frequencyHz * seconds + in.channelIndex * 0.125);
  switch (in.wave) {
    case Wave::Sine: return mid + half * std::sin(2.0 * std::numbers::pi * phase);
    case Wave::Ramp: return mid - half + 2.0 * half * phase;
    case Wave::Square: return phase < 0.5 ? mid + half : mid - half;
    case Wave::Noise: {
      const std::uint64_t h =
          SplitMix(seed ^ SplitMix(sampleIndex * 131u + static_cast<std::uint64_t>(in.channelIndex)));
      const double unit = static_cast<double>(h >> 11) / 9007199254740992.0;  // [0,1)
      return mid - half + 2.0 * half * unit;
    }
    case Wave::Constant: return mid;
    case Wave::Ecg: return mid + half * HeartbeatShape(phase);
    case Wave::Breath: return mid + half * BreathShape(phase);
    case Wave::Drift: return mid + half * DriftShape(in.frequencyHz, seconds, in.channelIndex);
  }
  return mid;
}

std::string FormatFixed(double value, int decimals) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  std::string text(buffer, result.ptr);
  // "-0.00" reads fine but is an odd thing for a device to send.
  if (text.size() > 1 && text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  return text;
}

}  // namespace VornSim
