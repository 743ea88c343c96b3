// vornctl demo end to end: the built vornctl starts the built vorn-sim,
// finds it through the built driver and records from it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "vornctl_recording_check.h"
#include "vornctl_run.h"
#include "vornctl_scratch_test.h"

namespace vorn_test {
namespace {

// The device's power-on period is its first one, so a recording at 2 ms
// also shows that the period select reached the device.
const std::vector<std::string> kSimDevice = {
    "--sim-arg", "--channels", "--sim-arg", "A:mV:-5:5:sine:2;B:degC:30:42:ramp:0.5;C:%:0:100:square:1",
    "--sim-arg", "--periods",  "--sim-arg", "0.004,0.002,0.01"};
const std::vector<ExpectedChannel> kChannels = {{"A", "mV", -5, 5}, {"B", "degC", 30, 42}, {"C", "%", 0, 100}};

class DemoTest : public vorn_test::ScratchFolderTest {
 protected:
  DemoTest() : ScratchFolderTest("vornctl-demo-test") {}

  std::vector<std::string> Demo(std::vector<std::string> extra) const {
    std::vector<std::string> args = {"demo", "--no-progress"};
    args.insert(args.end(), kSimDevice.begin(), kSimDevice.end());
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
};

TEST_F(DemoTest, RecordsEveryChannelAtTheFastestPeriodAndSummarisesIt) {
  const std::string csvPath = File("demo.csv");
  const RunResult run = RunVornctl(Demo({"--seconds", "1.5", "--out", csvPath}));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const CsvRecording csv = ReadCsv(csvPath);
  CheckRecording(csv, kChannels, 0.002);
  EXPECT_GE(csv.rows.size(), 700u);  // 1.5 s / 2 ms = 750
  EXPECT_LE(csv.rows.size(), 790u);
  EXPECT_NE(run.err.find(" 0 dropped"), std::string::npos) << run.err;
  for (const char *heading : {"channel", "unit", "min", "max", "mean"})
    EXPECT_NE(run.out.find(heading), std::string::npos);
  EXPECT_NE(run.out.find("\nA "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("degC"), std::string::npos) << run.out;
  // The ramp climbs over the recording, so its sparkline spans the levels.
  EXPECT_NE(run.out.find("▁"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("█"), std::string::npos) << run.out;
}

TEST_F(DemoTest, BlockReadsGiveTheSameRecording) {
  const std::string csvPath = File("block.csv");
  const RunResult run = RunVornctl(Demo({"--seconds", "1", "--block", "--out", csvPath}));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const CsvRecording csv = ReadCsv(csvPath);
  CheckRecording(csv, kChannels, 0.002);
  EXPECT_GE(csv.rows.size(), 450u);
  EXPECT_LE(csv.rows.size(), 530u);
}

TEST_F(DemoTest, CtrlCStopsCleanlyAndKeepsWhatWasRecorded) {
  const std::string csvPath = File("stopped.csv");
  RunOptions options;
  // Rows on disk (under the temporary name until the end) mean the recording is under way.
  options.interruptWhenFile = File("stopped.partial.csv");
  options.interruptAtBytes = 4096;
  const auto start = std::chrono::steady_clock::now();
  const RunResult run = RunVornctl(Demo({"--seconds", "30", "--out", csvPath}), options);
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(run.exitCode, 130) << run.err;
  EXPECT_LT(took, 10.0);
  EXPECT_NE(run.err.find("stopped by Ctrl-C"), std::string::npos) << run.err;
  const CsvRecording csv = ReadCsv(csvPath);
  CheckRecording(csv, kChannels, 0.002);
  EXPECT_GE(csv.rows.size(), 50u);
  EXPECT_LT(csv.rows.size(), 5000u);
  EXPECT_NE(run.out.find("mean"), std::string::npos);
}

TEST_F(DemoTest, VanishingDeviceFailsWithTheDriversMessageAndKeepsTheRows) {
  const std::string csvPath = File("vanished.csv");
  const RunResult run =
      RunVornctl(Demo({"--seconds", "5", "--out", csvPath, "--sim-arg", "--fault", "--sim-arg", "vanish=100"}));
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find("The Vorn Device is not responding"), std::string::npos) << run.err;
  const CsvRecording csv = ReadCsv(csvPath);
  CheckRecording(csv, kChannels, 0.002);
  EXPECT_GE(csv.rows.size(), 90u);
  EXPECT_LE(csv.rows.size(), 100u);
}

TEST_F(DemoTest, UnknownProfileIsReportedBySimulatorFailure) {
  const RunResult run = RunVornctl({"demo", "--profile", "no-such-profile", "--out", File("x.csv")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("vorn-sim"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(File("x.csv")));
}

}  // namespace
}  // namespace vorn_test
