// The launcher that vornctl's demo, the soak, the call fuzzer, the benches and
// the tests start vorn-sim with, against small shell stand-ins, so that every
// way a start can go wrong is met on purpose. Every wait is bounded.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tools/simlaunch/sim_process.h"

namespace vorn_test {

using namespace vorn_simlaunch;

namespace {

using std::chrono::milliseconds;

// A stand-in simulator: /bin/sh running script.
bool StartScript(SimProcess &sim, const std::string &script, std::string &error, SimStartOptions options = {}) {
  return sim.Start("/bin/sh", {"-c", script}, error, options);
}

TEST(SimLaunch, StartReadsTheFirstLineAndLaterLinesStayForReadLine) {
  SimProcess sim;
  std::string error;
  // Both lines in one write: the second must not be lost with the first read.
  ASSERT_TRUE(StartScript(sim, "printf 'VSC0000001=/dev/pts/91\\nVSC0000001=/dev/pts/92\\n'; exec sleep 30", error))
      << error;
  EXPECT_EQ(sim.Serial(), "VSC0000001");
  EXPECT_EQ(sim.Path(), "/dev/pts/91");
  EXPECT_EQ(sim.PortEntry(), "VSC0000001=/dev/pts/91");
  std::string line;
  EXPECT_EQ(sim.ReadLine(milliseconds(2000), line), SimProcess::LineRead::kLine);
  EXPECT_EQ(line, "VSC0000001=/dev/pts/92");
  EXPECT_EQ(sim.ReadLine(milliseconds(50), line), SimProcess::LineRead::kTimeout);
  EXPECT_TRUE(sim.Running());
  sim.Stop();
  EXPECT_FALSE(sim.Running());
  EXPECT_EQ(sim.PortEntry(), "");
}

TEST(SimLaunch, AProgramThatEndsBeforeItsLineIsReportedWithItsStatus) {
  SimProcess sim;
  std::string error;
  EXPECT_FALSE(StartScript(sim, "exit 2", error));
  EXPECT_EQ(error, "/bin/sh exited with status 2 before it printed its port");
  EXPECT_FALSE(sim.Running());

  EXPECT_FALSE(sim.Start("/nonexistent/vorn-sim", {}, error));
  EXPECT_EQ(error, "/nonexistent/vorn-sim exited with status 127 before it printed its port");

  // Its output closed but still running: ended after a bounded wait, not waited for without end.
  EXPECT_FALSE(StartScript(sim, "exec >&-; exec sleep 30", error));
  EXPECT_EQ(error, "/bin/sh was killed by signal 9 before it printed its port");
  EXPECT_FALSE(sim.Running());
}

TEST(SimLaunch, ALineThatIsNoPortIsRefusedAndTheProgramEnded) {
  SimProcess sim;
  std::string error;
  EXPECT_FALSE(StartScript(sim, "echo hello; exec sleep 30", error));
  EXPECT_EQ(error, "vorn-sim printed 'hello' instead of SERIAL=PATH");
  EXPECT_FALSE(sim.Running());
  EXPECT_FALSE(StartScript(sim, "echo =/dev/pts/9; exec sleep 30", error));
  EXPECT_EQ(error, "vorn-sim printed '=/dev/pts/9' instead of SERIAL=PATH");
}

TEST(SimLaunch, SilenceEndsTheWaitAndTheProgram) {
  SimProcess sim;
  std::string error;
  SimStartOptions options;
  options.lineWait = milliseconds(2000);
  EXPECT_FALSE(StartScript(sim, "exec sleep 30", error, options));
  EXPECT_EQ(error, "vorn-sim printed no SERIAL=PATH line within 2 s");
  EXPECT_FALSE(sim.Running());
}

TEST(SimLaunch, ExitStatusKillAndAStopThatOutlastsSigterm) {
  SimProcess quits;
  std::string error;
  ASSERT_TRUE(StartScript(quits, "echo S=/p; exit 3", error)) << error;
  EXPECT_EQ(quits.WaitExit(milliseconds(5000)), 3);
  EXPECT_EQ(quits.WaitExit(milliseconds(0)), 3);  // kept once reaped

  SimProcess killed;
  ASSERT_TRUE(StartScript(killed, "echo S=/p; exec sleep 30", error)) << error;
  killed.Kill();
  EXPECT_FALSE(killed.Running());
  EXPECT_EQ(killed.WaitExit(milliseconds(0)), 128 + 9);

  // A program that ignores SIGTERM is killed after the bounded wait.
  SimProcess stubborn;
  ASSERT_TRUE(StartScript(stubborn, "trap '' TERM; echo S=/p; while :; do sleep 0.05; done", error)) << error;
  stubborn.Stop();
  EXPECT_FALSE(stubborn.Running());
}

TEST(SimLaunch, SpawnWaitsForNothingAndEndOfOutputIsReported) {
  SimProcess sim;
  std::string error;
  ASSERT_TRUE(sim.Spawn("/bin/sh", {"-c", "printf partial"}, error)) << error;
  std::string line;
  EXPECT_EQ(sim.ReadLine(milliseconds(5000), line), SimProcess::LineRead::kEnded);
  EXPECT_EQ(line, "partial");
  EXPECT_EQ(sim.WaitExit(milliseconds(5000)), 0);
}

TEST(SimLaunch, DescribeHandsArgumentsOverVerbatimAndReadsToTheEnd) {
  // A quote in an argument once broke the shell line the description was read through.
  EXPECT_EQ(DescribeSim("/bin/sh", {"-c", "printf '%s|' \"$0\" \"$1\"; printf '\\nlast'", "it's"}),
            "it's|--describe|\nlast");
  EXPECT_EQ(DescribeSim("/nonexistent/vorn-sim", {}), "");
}

}  // namespace
}  // namespace vorn_test
