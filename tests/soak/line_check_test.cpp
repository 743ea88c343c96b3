// The soak's line checker: host lines built from sent data lines and the
// announced bounds, and the in-order matching that finds lost and corrupted lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "tools/hostcheck/line_check.h"

namespace vorn_test {

using namespace vorn_soak;

namespace {

// `vorn-sim --describe` of the default and crc profiles.
const char kDefault[] =
    "V,1,4,27,1\nCount,ECG,Resp,SpO2,Temp\nEndOfCycle,0.002,0.005,0.01\nCount,ECG,Resp,SpO2,Temp\n"
    "cnt,mV,l/min,%,degC\n4294967295,5,60,100,42\n0,-5,0,0,30\n";
const char kCrc[] =
    "V,1,4,27,1,Quellograph CRC\nCount,ECG,Resp,SpO2,Temp,CRC\nEndOfCycle,0.002,0.005,0.01\n"
    "Count,ECG,Resp,SpO2,Temp,CRC\ncnt,mV,l/min,%,degC,na\n4294967295,5,60,100,42,65535\n0,-5,0,0,30,0\n";

DeviceDescription Parse(const char *text) {
  DeviceDescription d;
  std::string error;
  EXPECT_TRUE(ParseDescription(text, d, error)) << error;
  return d;
}

TEST(SoakDescription, ReadsFieldsNamesAndBoundsAndLeavesTheCrcOut) {
  const DeviceDescription plain = Parse(kDefault);
  EXPECT_EQ(plain.fieldCount, 5);
  EXPECT_EQ(plain.nameCount, 5);
  ASSERT_EQ(plain.minima.size(), 5u);
  EXPECT_FLOAT_EQ(plain.minima[1], -5.0f);
  EXPECT_FLOAT_EQ(plain.maxima[4], 42.0f);
  const DeviceDescription crc = Parse(kCrc);
  EXPECT_EQ(crc.fieldCount, 6);
  EXPECT_EQ(crc.nameCount, 5);
  DeviceDescription d;
  std::string error;
  EXPECT_FALSE(ParseDescription("V,1\nCount,A\n", d, error));
  EXPECT_FALSE(error.empty());
}

TEST(SoakExpectedLine, ScalesEachEnabledChannelFromItsBounds) {
  const DeviceDescription d = Parse(kDefault);
  // ECG -5..5: 0 is the middle; Resp 0..60: 60 the top; SpO2 0..100: 25 a quarter; Temp 30..42: 30 the bottom.
  EXPECT_EQ(ExpectedHostLine("17,0.00,60.00,25.00,30.00", d, {1, 2, 3, 4}), "@ 16384,32767,8192,0\n");
  // Out of range values are clamped to the bounds.
  EXPECT_EQ(ExpectedHostLine("17,-9,99,100,50", d, {1, 2, 3, 4}), "@ 0,32767,32767,32767\n");
  // Only the enabled positions, a comma after each but the last position's.
  EXPECT_EQ(ExpectedHostLine("17,0.00,60.00,25.00,30.00", d, {2}), "@ 32767,\n");
  EXPECT_EQ(ExpectedHostLine("17,0.00,60.00,25.00,30.00", d, {4}), "@ 0\n");
  // A missing sample gives 0 and a comma.
  EXPECT_EQ(ExpectedHostLine("17,*,60,25,*", d, {1, 2, 3, 4}), "@ 0,32767,8192,0,\n");
  // Too few fields: nothing; extra trailing fields (the high-bytes fault) are ignored.
  EXPECT_EQ(ExpectedHostLine("17,0,60,25", d, {1, 2, 3, 4}), std::nullopt);
  EXPECT_EQ(ExpectedHostLine("17,0,60,25,", d, {1, 2, 3, 4}), std::nullopt);
  EXPECT_EQ(ExpectedHostLine("17,0,60,25,30,\xC3\xFF\x80", d, {1, 2, 3, 4}), "@ 16384,32767,8192,0\n");
  EXPECT_EQ(ExpectedHostLine("junk without commas", d, {1, 2, 3, 4}), std::nullopt);
}

TEST(SoakExpectedLine, TheCrcFieldIsCountedButNeverScaled) {
  const DeviceDescription d = Parse(kCrc);
  EXPECT_EQ(ExpectedHostLine("3,5.00,0.00,100.00,42.00,12345", d, {1, 2, 3, 4}), "@ 32767,0,32767,32767\n");
  EXPECT_EQ(ExpectedHostLine("3,5.00,0.00,100.00,42.00", d, {1, 2, 3, 4}), std::nullopt);
}

TEST(SoakScale, FollowsTheFloatRoundingOfTheHostLines) {
  EXPECT_EQ(ScaleValue(0.0f, -5.0f, 5.0f), 16384);   // 0.5 * 32767 rounds half up
  EXPECT_EQ(ScaleValue(1.23f, -5.0f, 5.0f), 20414);  // 0.623 * 32767 = 20413.84
  EXPECT_EQ(ScaleValue(7.0f, 3.0f, 3.0f), 0);        // equal bounds have no scale
}

TEST(SoakMatch, AcceptsAnInOrderSubsequenceAndCountsWhatWasSkipped) {
  const std::vector<std::string> expected{"@ 1\n", "@ 2\n", "@ 3\n", "@ 4\n", "@ 5\n", "@ 6\n"};
  MatchResult m = MatchDelivered(expected, {"@ 2\n", "@ 3\n", "@ 5\n", "@ 6\n"}, false);
  EXPECT_TRUE(m.ok) << m.detail;
  EXPECT_EQ(m.matched, 4u);
  EXPECT_EQ(m.before, 1u);
  EXPECT_EQ(m.gaps, 1u);
  EXPECT_EQ(m.skipped, 1u);
  // The same with consecutive required is a loss.
  m = MatchDelivered(expected, {"@ 2\n", "@ 3\n", "@ 5\n"}, true);
  EXPECT_FALSE(m.ok);
  EXPECT_EQ(m.firstBad, 2u);
  EXPECT_NE(m.detail.find("lost"), std::string::npos);
  // Lines missing only before and after the run are fine for consecutive.
  m = MatchDelivered(expected, {"@ 3\n", "@ 4\n"}, true);
  EXPECT_TRUE(m.ok);
  EXPECT_EQ(m.matched, 2u);
  EXPECT_TRUE(MatchDelivered(expected, {}, true).ok);
}

TEST(SoakMatch, AnUnbrokenRunThatStartsInsideRepeatedLinesIsNoLoss) {
  // A slow channel sends the same host line several times over.
  const std::vector<std::string> expected{"@ 1\n", "@ 7\n", "@ 7\n", "@ 7\n", "@ 8\n", "@ 9\n", "@ 7\n"};
  MatchResult m = MatchDelivered(expected, {"@ 7\n", "@ 7\n", "@ 8\n", "@ 9\n"}, true);
  EXPECT_TRUE(m.ok) << m.detail;
  EXPECT_EQ(m.before, 2u);
  EXPECT_EQ(m.matched, 4u);
  // A real loss inside such a run is still one.
  m = MatchDelivered(expected, {"@ 7\n", "@ 7\n", "@ 9\n"}, true);
  EXPECT_FALSE(m.ok);
  EXPECT_NE(m.detail.find("lost"), std::string::npos);
}

TEST(SoakMatch, CatchesCorruptedReorderedAndRepeatedLines) {
  const DeviceDescription d = Parse(kDefault);
  std::vector<std::string> expected;
  for (const char *sent : {"1,0.10,1.00,10.00,31.00", "2,0.20,2.00,20.00,32.00", "3,0.30,3.00,30.00,33.00"})
    expected.push_back(*ExpectedHostLine(sent, d, {1, 2, 3, 4}));
  std::vector<std::string> delivered = expected;
  EXPECT_TRUE(MatchDelivered(expected, delivered, true).ok);
  // One digit changed, a line cut short, a line end lost: each is caught at its place.
  for (auto corrupt : {+[](std::string &s) { s[3] = s[3] == '9' ? '8' : '9'; },
                       +[](std::string &s) { s.erase(s.size() / 2); }, +[](std::string &s) { s.pop_back(); }}) {
    delivered = expected;
    corrupt(delivered[1]);
    for (bool consecutive : {true, false}) {
      const MatchResult m = MatchDelivered(expected, delivered, consecutive);
      EXPECT_FALSE(m.ok) << delivered[1];
      EXPECT_EQ(m.firstBad, 1u);
      EXPECT_NE(m.detail.find("corrupted"), std::string::npos);
    }
  }
  // Reordered and repeated lines are not an in-order subsequence.
  EXPECT_FALSE(MatchDelivered(expected, {expected[1], expected[0]}, false).ok);
  EXPECT_FALSE(MatchDelivered(expected, {expected[0], expected[0]}, false).ok);
}

TEST(SoakMatch, PieceByPieceWaitsForTheSentLogAndStillCatchesACorruptedLine) {
  std::vector<std::string> lines;
  for (int i = 0; i < 10000; ++i) lines.push_back("@ " + std::to_string(i) + "\n");
  InOrderChecker checker(true);
  // Delivered lines may be read before the sent log shows them.
  for (int i = 100; i < 200; ++i) checker.AddDelivered(lines[i]);
  EXPECT_TRUE(checker.Match(false));
  EXPECT_EQ(checker.result().matched, 0u);
  for (int i = 0; i < 6000; ++i) checker.AddExpected(lines[i]);
  for (int i = 200; i < 5000; ++i) checker.AddDelivered(lines[i]);
  EXPECT_TRUE(checker.Match(false));
  EXPECT_EQ(checker.result().before, 100u);
  EXPECT_EQ(checker.result().matched, 4900u);
  for (int i = 6000; i < 10000; ++i) checker.AddExpected(lines[i]);
  checker.AddDelivered(lines[5000]);
  checker.AddDelivered("@ 5O01\n");
  EXPECT_FALSE(checker.Match(false));
  EXPECT_EQ(checker.result().firstBad, 4901u);
  EXPECT_NE(checker.result().detail.find("corrupted"), std::string::npos);
  EXPECT_NE(checker.result().detail.find("next expected: @ 5001"), std::string::npos);
  // A delivered line that never shows up in the log fails only at the end.
  InOrderChecker late(false);
  late.AddDelivered("@ 7\n");
  EXPECT_TRUE(late.Match(false));
  EXPECT_FALSE(late.Match(true));
}

TEST(SoakSentLog, ReadsWholeLinesAndResumesAfterThem) {
  const std::string path = ::testing::TempDir() + "soak_sent_log_test.txt";
  {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << "1,a\n2,b\n3,c";  // the last line is not whole yet
  }
  std::size_t offset = 0;
  EXPECT_EQ(ReadSentLog(path, offset), (std::vector<std::string>{"1,a", "2,b"}));
  {
    std::ofstream f(path, std::ios::binary | std::ios::app);
    f << ",d\n4,e\n";
  }
  EXPECT_EQ(ReadSentLog(path, offset), (std::vector<std::string>{"3,c,d", "4,e"}));
  EXPECT_TRUE(ReadSentLog(path, offset).empty());
  std::remove(path.c_str());
}

}  // namespace
}  // namespace vorn_test
