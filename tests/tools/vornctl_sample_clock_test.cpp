// The time rule every recording keeps: sample indexes across gaps, and which
// irregularities are gaps and which are only the transport's bunching.
#include <gtest/gtest.h>

#include "tools/vornctl/sample_clock.h"

namespace vorn_test {

using namespace vornctl;

namespace {

using Clock = SampleClock::Clock;

Clock::time_point At(double seconds) {
  return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
}

constexpr std::int64_t kPeriodUs = 2000;
constexpr double kPeriod = 0.002;

TEST(SampleClock, ASteadyStreamAndBunchedDeliveryAreNoGap) {
  SampleClock clock(kPeriodUs);
  // 10 s at 2 ms, delivered in bursts of 600 lines every 1.2 s (all stamped
  // at the burst's arrival), the reader catching up after each burst.
  std::int64_t gaps = 0;
  for (int burst = 0; burst < 8; ++burst) {
    const double arrival = 100.0 + 1.2 * (burst + 1);
    for (int i = 0; i < 600; ++i) gaps += clock.Take(At(arrival));
    gaps += clock.CaughtUp();
  }
  EXPECT_EQ(gaps, 0);
  EXPECT_EQ(clock.NextIndex(), 4800);
  EXPECT_EQ(clock.Gaps(), 0);
  EXPECT_DOUBLE_EQ(clock.HostSeconds(), 1.2 * 7);
}

TEST(SampleClock, LinesLostToAFullRingAreOneGapOfTheClocksDeficit) {
  SampleClock clock(kPeriodUs);
  double t = 50.0;
  for (int i = 0; i < 1000; ++i, t += kPeriod) clock.Take(At(t));
  EXPECT_EQ(clock.CaughtUp(), 0);
  const double lastBefore = t - kPeriod;
  // The reader stalls for 10 s (5000 sets); the ring kept 2000 lines, 3000 were lost.
  const double resume = lastBefore + 10.0;
  for (int i = 0; i < 2000; ++i) clock.Take(At(resume));
  EXPECT_EQ(clock.CaughtUp(), 3000);
  EXPECT_EQ(clock.Gaps(), 1);
  EXPECT_EQ(clock.LostSets(), 3000);
  // The next line lands where the clock says it belongs.
  EXPECT_EQ(clock.NextIndex(), 1000 + 5000);
  clock.Take(At(resume + kPeriod));
  EXPECT_EQ(clock.CaughtUp(), 0);
  // A stall whose lines all arrive late is no loss.
  for (int i = 0; i < 200; ++i) clock.Take(At(resume + 0.4));
  EXPECT_EQ(clock.CaughtUp(), 0);
}

TEST(SampleClock, AGapSeenWhereTheRingOverflowedGoesRightBeforeTheFirstLineAfterIt) {
  SampleClock clock(kPeriodUs);
  double t = 20.0;
  for (int i = 0; i < 500; ++i, t += kPeriod) clock.Take(At(t));
  EXPECT_EQ(clock.CaughtUp(), 0);
  // Stalled 10 s; on waking the reader sees the ring full: its 2000 lines are
  // the old ones, the lines after them came after the loss.
  const double wake = t - kPeriod + 10.0;
  for (int i = 0; i < 2000; ++i) EXPECT_EQ(clock.Take(At(wake + i * 1e-6)), 0);
  clock.Overflowed();
  const double firstAfter = wake + 0.01;
  // 10.01 s since the last caught-up line (index 499) is 5005 sets: this line is 5504.
  EXPECT_EQ(clock.Take(At(firstAfter)), 5504 - 2500);
  EXPECT_EQ(clock.NextIndex(), 5505);
  // Caught up later, nothing more is missing.
  clock.Take(At(firstAfter + kPeriod));
  EXPECT_EQ(clock.CaughtUp(), 0);
  EXPECT_EQ(clock.Gaps(), 1);
  // A full ring that lost nothing (the reader was behind, not the device) is no gap.
  SampleClock slow(kPeriodUs);
  for (int i = 0; i < 100; ++i) slow.Take(At(i * kPeriod));
  slow.CaughtUp();
  for (int i = 0; i < 300; ++i) slow.Take(At(0.8));
  slow.Overflowed();
  EXPECT_EQ(slow.Take(At(0.8 + kPeriod)), 0);
}

TEST(SampleClock, LossBelowTheThresholdIsLeftToTheMissingEstimate) {
  EXPECT_EQ(SampleClock::LostThresholdSets(2000), 250);   // 0.5 s
  EXPECT_EQ(SampleClock::LostThresholdSets(1000), 500);   // 0.5 s
  EXPECT_EQ(SampleClock::LostThresholdSets(100000), 50);  // 50 periods
  SampleClock clock(kPeriodUs);
  double t = 0;
  for (int i = 0; i < 100; ++i, t += kPeriod) clock.Take(At(t));
  clock.CaughtUp();
  t += 0.4;  // 200 sets never came
  for (int i = 0; i < 100; ++i, t += kPeriod) clock.Take(At(t));
  EXPECT_EQ(clock.CaughtUp(), 0);
  EXPECT_EQ(clock.NextIndex(), 200);
}

TEST(SampleClock, AClockThatDriftsSlowlyNeverAddsUpToAGap) {
  // The device runs 0.2 % slow against the host for an hour; caught up every 50 ms.
  SampleClock clock(kPeriodUs);
  const double period = kPeriod * 1.002;
  double t = 0;
  for (int i = 0; i < 1800000; ++i, t += period) {
    clock.Take(At(t));
    if (i % 25 == 24) clock.CaughtUp();
  }
  EXPECT_EQ(clock.Gaps(), 0);
}

TEST(SampleClock, AReconnectionIsAGapFromTheLastLineBeforeToTheFirstAfter) {
  SampleClock clock(kPeriodUs);
  EXPECT_FALSE(clock.Started());
  EXPECT_EQ(clock.Take(At(10.0)), 0);
  EXPECT_TRUE(clock.Started());
  EXPECT_EQ(clock.Take(At(10.002)), 0);
  clock.Interrupted();
  // 0.6 s later: the sets at 10.004 .. 10.600 never came.
  EXPECT_EQ(clock.Take(At(10.602)), 299);
  EXPECT_EQ(clock.NextIndex(), 302);
  EXPECT_EQ(clock.GapSets(), 299);
  EXPECT_EQ(clock.LostSets(), 0);
  EXPECT_NEAR(clock.HostSeconds(), 0.602, 1e-9);
  // Back at once (no set missed): no gap.
  clock.Interrupted();
  EXPECT_EQ(clock.Take(At(10.604)), 0);
  EXPECT_EQ(clock.Gaps(), 1);
  // Nothing before the first line can be a gap.
  SampleClock fresh(kPeriodUs);
  EXPECT_EQ(fresh.CaughtUp(), 0);
  fresh.Interrupted();
  EXPECT_EQ(fresh.Take(At(3.0)), 0);
  EXPECT_EQ(fresh.NextIndex(), 1);
}

}  // namespace
}  // namespace vorn_test
