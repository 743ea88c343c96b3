// Command line and profile building of the simulator.

#include <gtest/gtest.h>

#include "device_lines.h"
#include "options.h"

namespace vorn_test {

using namespace VornSim;

namespace {

bool Parse(std::vector<std::string> args, SimOptions &o, std::string &error) { return ParseOptions(args, o, error); }

DeviceSettings Build(std::vector<std::string> args) {
  SimOptions o;
  std::string error;
  DeviceSettings s;
  EXPECT_TRUE(Parse(args, o, error)) << error;
  EXPECT_TRUE(BuildSettings(o, s, error)) << error;
  return s;
}

std::string BuildError(std::vector<std::string> args) {
  SimOptions o;
  std::string error;
  DeviceSettings s;
  if (!Parse(args, o, error)) return error;
  if (!BuildSettings(o, s, error)) return error;
  return "";
}

TEST(SimOptions, AcceptsValuesAfterASpaceOrAnEqualsSign) {
  SimOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"--serial", "VSC7", "--profile=crc", "--fault", "late=5", "--fault=silent", "--link", "/tmp/x",
                     "--exit-after=1.5", "--seed", "9", "--vanish-action", "reopen", "--trace=t", "--sent-log", "s"},
                    o, error))
      << error;
  EXPECT_EQ(o.serial, "VSC7");
  EXPECT_EQ(o.profile, "crc");
  EXPECT_EQ(o.faults, (std::vector<std::string>{"late=5", "silent"}));
  EXPECT_EQ(o.link, "/tmp/x");
  EXPECT_DOUBLE_EQ(o.exitAfter, 1.5);
  EXPECT_EQ(o.seed, 9u);
  EXPECT_TRUE(o.vanishReopen);
  EXPECT_EQ(o.trace, "t");
  EXPECT_EQ(o.sentLog, "s");
}

TEST(SimOptions, RejectsUnknownOptionsAndBadValues) {
  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{{"--bogus"},
                                                                            {"--serial"},
                                                                            {"--serial", "A=B"},
                                                                            {"--serial", ""},
                                                                            {"--cycle-ms", "0"},
                                                                            {"--exit-after", "-1"},
                                                                            {"--exit-after", "soon"},
                                                                            {"--help=yes"},
                                                                            {"--vanish-action", "explode"},
                                                                            {"--profile", "nope"},
                                                                            {"--fault", "nope"},
                                                                            {"--periods", ""},
                                                                            {"--channels", "A:u:5"}}) {
    EXPECT_NE(BuildError(bad), "") << bad[0];
  }
  EXPECT_EQ(BuildError({"--serial", "VSC1", "--bogus", "x"}), "unknown option '--bogus' (see --help)");
  EXPECT_EQ(BuildError({"stray"}), "unknown option 'stray' (see --help)");
}

TEST(SimOptions, OverridesApplyOnTopOfTheProfile) {
  DeviceSettings s = Build({"--profile", "crc", "--no-crc", "--firmware", "1.9", "--product", "Bench unit"});
  EXPECT_FALSE(s.profile.crcField);
  EXPECT_EQ(VersionLine(s.profile, s.profile.firmware), "V,1,4,27,1.9,Bench unit");
  s = Build({"--profile", "crc", "--no-product"});
  EXPECT_EQ(VersionLine(s.profile, s.profile.firmware), "V,1,4,27,1");
  s = Build({"--crc", "--periods", "0.5,1,2", "--cycle-ms", "100", "--fault", "garbage", "--fault-every", "3"});
  EXPECT_TRUE(s.profile.crcField);
  EXPECT_EQ(PeriodLine(s.profile), "0.5,1,2");
  EXPECT_EQ(s.cycle, 100000);
  EXPECT_TRUE(s.faults.garbage);
  EXPECT_EQ(s.faults.every, 3);
}

TEST(SimOptions, ChannelSpecsBuildACustomDevice) {
  DeviceSettings s = Build({"--channels", "ECG:mV:-5:5:square:1.5:3;Mark:na:na:na:noise;Plain"});
  ASSERT_EQ(s.profile.channels.size(), 3u);
  EXPECT_EQ(FieldLine(s.profile), "Count,ECG,Mark,Plain");
  EXPECT_EQ(UnitsLine(s.profile), "cnt,mV,na,na");
  EXPECT_EQ(MaximaLine(s.profile), "4294967295,5,na,100");
  EXPECT_EQ(MinimaLine(s.profile), "0,-5,na,0");
  EXPECT_EQ(s.profile.channels[0].wave, Wave::Square);
  EXPECT_EQ(s.profile.channels[0].decimals, 3);
  // "na" bounds are read as +-32767 by the host; the signal stays well inside.
  EXPECT_GE(s.profile.channels[1].lo, -32767);
  EXPECT_LE(s.profile.channels[1].hi, 32767);

  for (const char *bad : {"", "A,B", "CRC", "A:u:x:5", "A:u:5:1", "A:u:0:1:zigzag", "A:u:0:1:sine:-1",
                          "A:u:0:1:sine:1:9", "A:u:0:1:sine:1:2:extra", "A\tB"})
    EXPECT_NE(BuildError({"--channels", bad}), "") << bad;
}

TEST(SimOptions, PeriodListsNeedChoicesAndEndOfCycleFirst) {
  EXPECT_EQ(PeriodLine(Build({"--periods", "EndOfCycle"}).profile), "EndOfCycle");
  EXPECT_EQ(PeriodLine(Build({"--periods", "EndOfCycle,0.25"}).profile), "EndOfCycle,0.25");
  for (const char *bad : {"0.002,EndOfCycle", "EndOfCycle,EndOfCycle", "0", "abc", "0.002,,0.01", "1e9"})
    EXPECT_NE(BuildError({"--periods", bad}), "") << bad;
}

TEST(SimOptions, HelpNamesEveryProfileAndFaultMode) {
  const std::string help = HelpText();
  for (const DeviceProfile &p : BuiltinProfiles())
    EXPECT_NE(help.find("  " + p.name + " "), std::string::npos) << p.name;
  for (const char *mode :
       {"silent", "late", "wrong-firmware", "names-mismatch", "garbage", "overlong", "high-bytes", "split-crlf",
        "trickle", "burst", "stop-after", "vanish", "vanish-each", "missing", "lose-b-answer"}) {
    FaultSet f;
    std::string error;
    EXPECT_TRUE(ApplyFault(mode, f, error)) << mode;
    EXPECT_NE(help.find("  " + std::string(mode)), std::string::npos) << mode;
  }
  for (const char *option :
       {"--serial", "--profile",  "--firmware", "--product",    "--no-product",  "--channels",      "--periods",
        "--crc",    "--cycle-ms", "--seed",     "--fault",      "--fault-every", "--vanish-action", "--reopen-delay-ms",
        "--link",   "--trace",    "--sent-log", "--port-watch", "--exit-after",  "--describe"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST(SimOptions, DescribeShowsTheAnswersIncludingFaults) {
  SimOptions o;
  std::string error;
  DeviceSettings s;
  ASSERT_TRUE(Parse({"--profile", "nocycle", "--fault", "wrong-firmware=7", "--fault", "names-mismatch"}, o, error));
  ASSERT_TRUE(BuildSettings(o, s, error));
  EXPECT_EQ(DescribeDevice(s),
            "V,1,4,27,7\nCount,ECG,Resp,SpO2,Temp\n0.001,0.002,0.005,0.01\nCount,ECG,Resp,SpO2\n"
            "cnt,mV,l/min,%,degC\n4294967295,5,60,100,42\n0,-5,0,0,30\n");
}

}  // namespace
}  // namespace vorn_test
