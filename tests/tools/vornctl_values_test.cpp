// Numbers vornctl derives from the driver's answers and the command line:
// physical values, periods, channel lists, options, the EDF+ record layout.
#include <gtest/gtest.h>

#include <cmath>

#include "tools/vornctl/channel_selection.h"
#include "tools/vornctl/cli_args.h"
#include "tools/vornctl/command_line.h"
#include "tools/vornctl/edf_writer.h"
#include "tools/vornctl/period_choices.h"
#include "tools/vornctl/unit_conversion.h"

namespace vorn_test {

using namespace vornctl;

namespace {

ChannelInfo Channel(std::int32_t position, std::string name, double lo, double hi, bool hasRange = true) {
  ChannelInfo c;
  c.position = position;
  c.name = std::move(name);
  c.minimum = lo;
  c.maximum = hi;
  c.hasRange = hasRange;
  return c;
}

TEST(UnitConversion, MapsTheScaledRangeBackOntoTheChannelRange) {
  const ChannelInfo ecg = Channel(1, "ECG", -5, 5);
  EXPECT_DOUBLE_EQ(ToPhysical(ecg, 0), -5);
  EXPECT_DOUBLE_EQ(ToPhysical(ecg, 32767), 5);
  // The driver scales the midpoint to 16384 (rounding half up).
  EXPECT_NEAR(ToPhysical(ecg, 16384), 0, 10.0 / 32767);
  const ChannelInfo na = Channel(2, "Marker", -32767, 32767);
  EXPECT_DOUBLE_EQ(ToPhysical(na, 16384), -32767 + 16384.0 / 32767 * 65534);
}

TEST(UnitConversion, ChannelWithoutRangeKeepsTheDriversNumber) {
  EXPECT_DOUBLE_EQ(ToPhysical(Channel(3, "Raw", 0, 0, false), -3), -3);
  EXPECT_EQ(PhysicalDecimals(Channel(3, "Raw", 0, 0, false)), 0);
}

TEST(UnitConversion, DecimalsShowOneScaledStep) {
  EXPECT_EQ(PhysicalDecimals(Channel(1, "ECG", -5, 5)), 5);  // step 0.000305
  EXPECT_EQ(PhysicalDecimals(Channel(1, "P", 0, 300)), 4);   // step 0.00916
  EXPECT_EQ(PhysicalDecimals(Channel(1, "Big", 0, 4294967295.0)), 0);
  EXPECT_EQ(PhysicalDecimals(Channel(1, "Flat", 7, 7)), 0);
  EXPECT_EQ(FixedText(-0.00001, 3), "0.000");
  EXPECT_EQ(FixedText(-1.25, 1), "-1.2");
}

TEST(PeriodChoices, ReadsTheDriversListInItsOrder) {
  EXPECT_EQ(ParsePeriodList("2000000,1000000,500000"), (std::vector<std::int32_t>{2000000, 1000000, 500000}));
  EXPECT_EQ(ParsePeriodList(""), std::vector<std::int32_t>{});
  EXPECT_FALSE(ParsePeriodList("10,,5"));
  EXPECT_FALSE(ParsePeriodList("10,5,"));
  EXPECT_FALSE(ParsePeriodList("ten"));
}

TEST(PeriodChoices, NominalPeriodUndoesTheDriversTruncation) {
  EXPECT_EQ(NominalPeriodUs(4999), 5000);
  EXPECT_EQ(NominalPeriodUs(9999), 10000);
  EXPECT_EQ(NominalPeriodUs(2000), 2000);
  EXPECT_EQ(NominalPeriodUs(1234), 1234);
  EXPECT_EQ(NominalPeriodUs(799999), 800000);
}

TEST(PeriodChoices, MatchesTheUsersPeriodInAnyUnit) {
  const std::vector<std::int32_t> listed = {9999, 4999, 2000};
  EXPECT_EQ(MatchPeriod("fastest", listed), 2u);
  EXPECT_EQ(MatchPeriod("slowest", listed), 0u);
  EXPECT_EQ(MatchPeriod("5ms", listed), 1u);
  EXPECT_EQ(MatchPeriod("5", listed), 1u);
  EXPECT_EQ(MatchPeriod("0.01s", listed), 0u);
  EXPECT_EQ(MatchPeriod("2000us", listed), 2u);
  EXPECT_FALSE(MatchPeriod("3ms", listed));
  EXPECT_FALSE(MatchPeriod("-2ms", listed));
  EXPECT_FALSE(MatchPeriod("ms", listed));
  EXPECT_FALSE(MatchPeriod("fastest", {}));
  EXPECT_EQ(FormatPeriod(2000), "2 ms");
  EXPECT_EQ(FormatPeriod(250), "250 us");
  EXPECT_EQ(FormatPeriod(1500000), "1.5 s");
}

TEST(ChannelSelection, TakesPositionsRangesAndNames) {
  const std::vector<ChannelInfo> channels = {Channel(1, "ECG", 0, 1), Channel(2, "Resp", 0, 1),
                                             Channel(3, "SpO2", 0, 1), Channel(4, "Temp", 0, 1)};
  std::string error;
  EXPECT_EQ(SelectChannels("all", channels, error), (std::vector<std::int32_t>{1, 2, 3, 4}));
  // The user's order is the files' order; each channel once.
  EXPECT_EQ(SelectChannels("3,1", channels, error), (std::vector<std::int32_t>{3, 1}));
  EXPECT_EQ(SelectChannels("3,1,3", channels, error), (std::vector<std::int32_t>{3, 1}));
  EXPECT_EQ(SelectChannels("2-4,ECG,temp", channels, error), (std::vector<std::int32_t>{2, 3, 4, 1}));
  EXPECT_EQ(SelectChannels("SpO2,SpO2", channels, error), (std::vector<std::int32_t>{3}));
}

TEST(ChannelSelection, RejectsWhatTheDeviceDoesNotHave) {
  const std::vector<ChannelInfo> channels = {Channel(1, "ECG", 0, 1), Channel(2, "ecg", 0, 1)};
  std::string error;
  EXPECT_FALSE(SelectChannels("5", channels, error));
  EXPECT_NE(error.find("position 5"), std::string::npos);
  EXPECT_FALSE(SelectChannels("0", channels, error));
  EXPECT_FALSE(SelectChannels("2-1", channels, error));
  EXPECT_FALSE(SelectChannels("1,,2", channels, error));
  EXPECT_FALSE(SelectChannels("Pulse", channels, error));
  // Exact names win; a case-blind match must be unambiguous.
  EXPECT_EQ(SelectChannels("ecg", channels, error), (std::vector<std::int32_t>{2}));
  EXPECT_FALSE(SelectChannels("Ecg", channels, error));
  EXPECT_FALSE(SelectChannels("all", {}, error));
}

TEST(CommandLine, ParsesValuesFlagsRepeatsAndTheLibraryAnywhere) {
  CommandLine line;
  ParseOutcome outcome = ParseCommandLine(
      {"record", "0", "--out", "a.csv", "--out=b.edf", "--seconds=2", "--block", "--library", "lib.so"}, line);
  ASSERT_EQ(outcome.kind, ParseOutcome::Kind::Run) << outcome.message;
  EXPECT_EQ(line.command, "record");
  EXPECT_EQ(line.library, "lib.so");
  EXPECT_EQ(line.record.devices, std::vector<std::string>{"0"});
  EXPECT_EQ(line.record.output.outputs, (std::vector<std::string>{"a.csv", "b.edf"}));
  EXPECT_EQ(line.record.seconds, "2");
  EXPECT_EQ(line.record.channels, "all");
  EXPECT_EQ(line.record.period, "fastest");
  EXPECT_TRUE(line.record.output.block);
  EXPECT_FALSE(line.record.output.noProgress);
  // One value per --out: the device after it stays a device.
  outcome = ParseCommandLine({"--library=x.so", "record", "--out", "a.csv", "1"}, line);
  ASSERT_EQ(outcome.kind, ParseOutcome::Kind::Run) << outcome.message;
  EXPECT_EQ(line.library, "x.so");
  EXPECT_EQ(line.record.devices, std::vector<std::string>{"1"});
  outcome = ParseCommandLine({"demo", "--sim-arg", "--fault", "--sim-arg=late=300"}, line);
  ASSERT_EQ(outcome.kind, ParseOutcome::Kind::Run) << outcome.message;
  EXPECT_EQ(line.demo.simArgs, (std::vector<std::string>{"--fault", "late=300"}));

  EXPECT_EQ(ParseCommandLine({"record", "0", "--seconds", "1", "--seconds", "2"}, line).kind,
            ParseOutcome::Kind::Usage);
  EXPECT_EQ(ParseCommandLine({"record", "0", "--seconds"}, line).kind, ParseOutcome::Kind::Usage);
  EXPECT_EQ(ParseCommandLine({"record", "0", "--block=yes"}, line).kind, ParseOutcome::Kind::Usage);
  outcome = ParseCommandLine({"list", "--period", "2ms"}, line);
  EXPECT_EQ(outcome.kind, ParseOutcome::Kind::Usage);
  EXPECT_EQ(outcome.message, "list: unknown option --period");
  outcome = ParseCommandLine({"list", "extra"}, line);
  EXPECT_EQ(outcome.message, "list: unexpected argument 'extra'");
  outcome = ParseCommandLine({"--library", "lib.so", "lsit"}, line);
  EXPECT_EQ(outcome.kind, ParseOutcome::Kind::Usage);
  EXPECT_EQ(outcome.message, "unknown command 'lsit' (vornctl --help lists them)");
  EXPECT_EQ(ParseCommandLine({}, line).kind, ParseOutcome::Kind::Usage);
  EXPECT_EQ(ParseCommandLine({"info"}, line).kind, ParseOutcome::Kind::Usage);
  EXPECT_EQ(ParseCommandLine({"record", "--help"}, line).kind, ParseOutcome::Kind::Help);
  EXPECT_EQ(ParseCommandLine({"-h"}, line).kind, ParseOutcome::Kind::Help);
  EXPECT_EQ(ParseCommandLine({"--version"}, line).kind, ParseOutcome::Kind::Version);

  EXPECT_EQ(ParseIndex("12"), 12);
  EXPECT_FALSE(ParseIndex("-1"));
  EXPECT_FALSE(ParseIndex("1x"));
  EXPECT_EQ(ParseSeconds("2.5"), 2.5);
  EXPECT_FALSE(ParseSeconds("-1"));
  EXPECT_FALSE(ParseSeconds("inf"));
}

TEST(EdfLayout, RecordsAreAboutASecondAndAWholeNumberOfTenMicroseconds) {
  EdfRecordLayout layout;
  std::string error;
  ASSERT_TRUE(ChooseEdfRecordLayout(2000, layout, error));
  EXPECT_EQ(layout.samplesPerRecord, 500);
  EXPECT_EQ(layout.recordUs, 1000000);
  ASSERT_TRUE(ChooseEdfRecordLayout(800000, layout, error));
  EXPECT_EQ(layout.samplesPerRecord, 1);
  ASSERT_TRUE(ChooseEdfRecordLayout(3333, layout, error));
  EXPECT_EQ(layout.recordUs % 10, 0);
  EXPECT_EQ(layout.recordUs, layout.samplesPerRecord * 3333);
  ASSERT_TRUE(ChooseEdfRecordLayout(7, layout, error));
  EXPECT_GE(layout.recordUs, 1000);
  EXPECT_EQ(layout.recordUs % 10, 0);
  EXPECT_FALSE(ChooseEdfRecordLayout(0, layout, error));
  EXPECT_FALSE(ChooseEdfRecordLayout(61000000, layout, error));
}

TEST(EdfLayout, HeaderTextIsPrintableAsciiOfItsWidth) {
  // Units keep their meaning in ASCII, whether the device's bytes came as Latin-1 or UTF-8.
  EXPECT_EQ(EdfText("\xC2\xB0"
                    "C",
                    8),
            "degC");
  EXPECT_EQ(EdfText("\xB5V", 8), "uV");
  EXPECT_EQ(EdfText("\xCE\xBCV", 8), "uV");
  EXPECT_EQ(EdfText("a\tb\xE2\x82\xAC", 8), "a_b_");
  EXPECT_EQ(EdfText("a very long channel name", 16), "a very long chan");
  EXPECT_EQ(EdfSubfield("Jane Doe", 80), "Jane_Doe");
  EXPECT_EQ(EdfSubfield("", 80), "X");
  EXPECT_TRUE(IsEdfPath("x.EDF"));
  EXPECT_TRUE(IsEdfPath("dir.csv/rec.edf"));
  EXPECT_FALSE(IsEdfPath("rec.edf.csv"));
  EXPECT_FALSE(IsEdfPath("edf"));
}

TEST(EdfLayout, NumbersFitEightCharactersOrAreRefused) {
  EXPECT_EQ(EdfNumber(300), "300");
  EXPECT_EQ(EdfNumber(-5), "-5");
  EXPECT_EQ(EdfNumber(0.5), "0.5");
  EXPECT_EQ(EdfNumber(0.123456789), "0.123457");
  EXPECT_EQ(EdfNumber(-1234.56789), "-1234.57");
  EXPECT_EQ(EdfNumber(-0.000000001), "0");
  EXPECT_EQ(EdfNumber(99999999), "99999999");
  EXPECT_FALSE(EdfNumber(123456789));
  EXPECT_FALSE(EdfNumber(std::nan("")));
}

TEST(EdfLayout, AnnotationsAreTimeStampedListsWithTheirDuration) {
  using namespace std::string_literals;
  EXPECT_EQ(EdfAnnotation(1500000, 600000, "BAD_gap lost"),
            "+1.5\x15"
            "0.6\x14"
            "BAD_gap lost\x14\0"s);
  EXPECT_EQ(EdfAnnotation(123000, std::nullopt, ""), "+0.123\x14\x14\0"s);
  // The list's separators cannot come from a text.
  EXPECT_EQ(EdfAnnotation(0, std::nullopt, "a\x14z"),
            "+0\x14"
            "a z\x14\0"s);
}

}  // namespace
}  // namespace vorn_test
