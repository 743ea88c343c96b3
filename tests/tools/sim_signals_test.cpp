// The default device's signals, as a user sees them in the demo and on the
// page: a heartbeat, breathing, and a saturation and temperature that wander
// slowly inside their physiological bands. The test profiles keep their exact
// signals.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "device_lines.h"
#include "sim_test_harness.h"

namespace vorn_test {
namespace {

// Channel i of the default device at t seconds, as the data line prints it.
double Printed(const DeviceProfile &p, std::size_t i, double seconds) {
  const Channel &c = p.channels[i];
  const WaveInput in{c.wave, c.lo, c.hi, c.frequencyHz, static_cast<int>(i + 1)};
  return std::stod(FormatFixed(WaveValue(in, seconds, 0, 1), c.decimals));
}

std::vector<double> Trace(const DeviceProfile &p, std::size_t i, double seconds, double step) {
  std::vector<double> values;
  for (double t = 0; t < seconds; t += step) values.push_back(Printed(p, i, t));
  return values;
}

double Median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

TEST(SimSignals, DefaultEcgBeatsAt72PerMinuteFromAFlatBaseline) {
  const DeviceProfile &p = *FindProfile("default");
  ASSERT_EQ(p.channels[0].name, "ECG");
  const std::vector<double> ecg = Trace(p, 0, 60.0, 0.002);
  int peaks = 0;
  for (std::size_t k = 1; k + 1 < ecg.size(); ++k) {
    if (ecg[k] > 1.0 && ecg[k] >= ecg[k - 1] && ecg[k] > ecg[k + 1]) ++peaks;
  }
  EXPECT_NEAR(peaks, 72, 1);
  EXPECT_NEAR(Median(ecg), 0.0, 0.05);  // most of a beat is the isoelectric line
  const auto [lo, hi] = std::minmax_element(ecg.begin(), ecg.end());
  EXPECT_GT(*hi, 1.0);  // an R peak of a millivolt or so
  EXPECT_LT(*hi, 2.0);
  EXPECT_LT(*lo, -0.2);  // the S wave dips below the line
  EXPECT_GT(*lo, -1.0);
}

TEST(SimSignals, DefaultRespirationBreathes15TimesAMinuteInhalingFasterThanExhaling) {
  const DeviceProfile &p = *FindProfile("default");
  ASSERT_EQ(p.channels[1].name, "Resp");
  const std::vector<double> resp = Trace(p, 1, 60.0, 0.01);
  const auto [lo, hi] = std::minmax_element(resp.begin(), resp.end());
  const double mid = (*lo + *hi) / 2;
  int breaths = 0;
  std::size_t rising = 0;
  for (std::size_t k = 1; k < resp.size(); ++k) {
    if (resp[k - 1] < mid && resp[k] >= mid) ++breaths;
    if (resp[k] > resp[k - 1]) ++rising;
  }
  EXPECT_NEAR(breaths, 15, 1);
  EXPECT_LT(static_cast<double>(rising) / static_cast<double>(resp.size()), 0.5);
  EXPECT_GT(*hi - *lo, 10.0);
  EXPECT_GE(*lo, 0.0);
  EXPECT_LE(*hi, 60.0);
}

TEST(SimSignals, DefaultSpO2AndTemperatureDriftSlowlyInsideTheirBands) {
  const DeviceProfile &p = *FindProfile("default");
  ASSERT_EQ(p.channels[2].name, "SpO2");
  ASSERT_EQ(p.channels[3].name, "Temp");
  struct Band {
    std::size_t channel;
    double lo, hi, minSpread, maxStepPerSecond;
  };
  for (const Band &b : {Band{2, 95.0, 99.0, 2.0, 1.0}, Band{3, 36.0, 37.5, 0.5, 0.01}}) {
    const std::vector<double> values = Trace(p, b.channel, 7200.0, 1.0);
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    EXPECT_GE(*lo, b.lo) << p.channels[b.channel].name;
    EXPECT_LE(*hi, b.hi) << p.channels[b.channel].name;
    EXPECT_GE(*hi - *lo, b.minSpread) << p.channels[b.channel].name;
    double steepest = 0;
    for (std::size_t k = 1; k < values.size(); ++k) steepest = std::max(steepest, std::fabs(values[k] - values[k - 1]));
    EXPECT_LE(steepest, b.maxStepPerSecond + 1e-9) << p.channels[b.channel].name;
  }
  // Within a short recording they hardly move.
  const std::vector<double> temp = Trace(p, 3, 3.0, 0.002);
  const auto [lo, hi] = std::minmax_element(temp.begin(), temp.end());
  EXPECT_LE(*hi - *lo, 0.05);
}

TEST(SimSignals, TestProfilesKeepTheirExactSignals) {
  for (const char *name : {"test", "crc", "nocycle"}) {
    const DeviceProfile &p = *FindProfile(name);
    ASSERT_EQ(p.channels.size(), 4u) << name;
    EXPECT_EQ(p.channels[0].wave, Wave::Sine) << name;
    EXPECT_EQ(p.channels[1].wave, Wave::Ramp) << name;
    EXPECT_EQ(p.channels[2].wave, Wave::Square) << name;
    EXPECT_EQ(p.channels[3].wave, Wave::Noise) << name;
    // The square wave's two levels, 5 % inside 0..100.
    EXPECT_EQ(Printed(p, 2, 0.0), 95.0) << name;
    EXPECT_EQ(Printed(p, 2, 0.5), 5.0) << name;
  }
  // Both kinds describe the same channels and ranges to the host.
  Device body(SettingsFor("default"));
  Device exact(SettingsFor("test"));
  EXPECT_EQ(body.Ask(":F\n:I\n", 0), exact.Ask(":F\n:I\n", 0));
}

TEST(SimSignals, PhysiologicalWavesCanBeChosenForAnyChannel) {
  DeviceSettings s = SettingsFor("default");
  std::string error;
  ASSERT_TRUE(ParseChannelList("Lead:uV:-500:500:ecg:1;Chest:na:0:10:breath:0.3;Sat:%:90:100:drift:0.01",
                               s.profile.channels, error))
      << error;
  EXPECT_EQ(s.profile.channels[0].wave, Wave::Ecg);
  EXPECT_EQ(s.profile.channels[1].wave, Wave::Breath);
  EXPECT_EQ(s.profile.channels[2].wave, Wave::Drift);
  EXPECT_STREQ(WaveName(Wave::Breath), "breath");
  for (std::size_t i = 0; i < 3; ++i) {
    for (double v : Trace(s.profile, i, 200.0, 0.05)) {
      EXPECT_GT(v, s.profile.channels[i].lo);
      EXPECT_LT(v, s.profile.channels[i].hi);
    }
  }
}

}  // namespace
}  // namespace vorn_test
