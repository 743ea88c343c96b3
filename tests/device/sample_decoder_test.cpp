#include <gtest/gtest.h>

#include "device/protocol/protocol_router.h"
#include "device/recording_sinks.h"
#include "device/protocol/sample_decoder.h"
#include "support/fields.h"

#include <limits>

namespace vorn_test {

using namespace OpenPlotr;

namespace {

class Decoder : public ::testing::Test {
 protected:
  void SetUp() override {
    auto c = std::make_shared<DeviceConfiguration>();
    c->channelNames = {u"t", u"a", u"b", u"c"};
    c->channelMaxima = {100, 100, 100, 100};
    c->channelMinima = {0, 0, 0, 0};
    c->pendingLists = 0;
    config = c;
    state.configuration.store(config);
    state.fieldCount = 4;
  }
  void Enable(EnabledChannels positions) {
    state.enabledChannels.store(std::make_shared<const EnabledChannels>(std::move(positions)));
  }
  std::string Decode(std::u16string_view line) {
    lines.lines.clear();
    EXPECT_EQ(decoder.DecodeSampleLine(line), 0);
    return lines.lines.empty() ? std::string("<none>") : lines.lines.front();
  }
  std::shared_ptr<DeviceConfiguration> config;
  ProtocolState state;
  RecordingLines lines;
  SampleDecoder decoder{state, lines};
};

TEST_F(Decoder, ScalesEnabledPositionsIntoTheHostRange) {
  Enable({1, 3});
  EXPECT_EQ(Decode(u"t,50,7,100"), "@ 16384,32767\n");
}

TEST_F(Decoder, LastPositionDisabledLeavesATrailingComma) {
  Enable({1, 2});
  EXPECT_EQ(Decode(u"t,50,7,100"), "@ 16384,2294,\n");
}

TEST_F(Decoder, NoPositionEnabledGivesAnEmptyLine) { EXPECT_EQ(Decode(u"t,1,2,3"), "@ \n"); }

TEST_F(Decoder, MissingValueGivesZeroWithItsCommaEvenAtTheEnd) {
  Enable({1, 3});
  EXPECT_EQ(Decode(u"t,*,1,*"), "@ 0,0,\n");
}

TEST_F(Decoder, ValuesOutsideTheRangeAreClampedAndUnreadableGivesZero) {
  Enable({1, 2, 3});
  EXPECT_EQ(Decode(u"t,-5,1000,abc"), "@ 0,32767,0\n");
}

TEST_F(Decoder, ShortLinesLeaveNoTraceAndLongerOnesAreAccepted) {
  Enable({1});
  EXPECT_EQ(Decode(u"t,1,2"), "<none>");
  EXPECT_EQ(Decode(u""), "<none>");
  EXPECT_EQ(Decode(u"t,100,2,3,99,extra"), "@ 32767,\n");
}

TEST_F(Decoder, PositionZeroAndPositionsBeyondTheNamesAreNeverForwarded) {
  Enable({0, 1, 4, 99});
  EXPECT_EQ(Decode(u"t,0,0,0,5"), "@ 0,\n");
}

TEST_F(Decoder, WithoutAConfigurationNothingIsWritten) {
  state.configuration.store(nullptr);
  Enable({1});
  EXPECT_EQ(Decode(u"t,1,2,3"), "<none>");
}

// The decoder keeps what it read until the host or a new download replaces it.
TEST_F(Decoder, ChannelsAndConfigurationChangedBetweenLinesApplyFromTheNextLine) {
  Enable({1});
  EXPECT_EQ(Decode(u"t,50,7,100"), "@ 16384,\n");
  Enable({1, 3});
  EXPECT_EQ(Decode(u"t,50,7,100"), "@ 16384,32767\n");
  auto wider = std::make_shared<DeviceConfiguration>(*config);
  wider->channelMaxima = {200, 200, 200, 200};
  state.configuration.store(wider);
  EXPECT_EQ(Decode(u"t,50,7,100"), "@ 8192,16384\n");
  Enable({});
  EXPECT_EQ(Decode(u"t,50,7,100"), "@ \n");
  state.configuration.store(nullptr);
  EXPECT_EQ(Decode(u"t,50,7,100"), "<none>");
}

TEST(ScaleSample, PositionsWithoutLimitsAreForwardedTruncated) {
  DeviceConfiguration c;
  c.channelMaxima = {1};
  c.channelMinima = {0};
  EXPECT_EQ(ScaleSample(c, 3, 12.7f), 12);
  EXPECT_EQ(ScaleSample(c, 3, -3.9f), -3);
  EXPECT_EQ(ScaleSample(c, 3, 1e20f), INT32_MAX);
  EXPECT_EQ(ScaleSample(c, 3, kUnreadableNumber), INT32_MIN);
}

TEST(ScaleSample, NaLimitsMapZeroToTheMiddle) {
  DeviceConfiguration c;
  c.channelMaxima = {32767};
  c.channelMinima = {-32767};
  EXPECT_EQ(ScaleSample(c, 0, 0), 16384);
  EXPECT_EQ(ScaleSample(c, 0, -32767), 0);
  EXPECT_EQ(ScaleSample(c, 0, 32767), 32767);
}

TEST(ScaleSample, DegenerateBoundsGiveZeroInsteadOfDividingByZero) {
  DeviceConfiguration c;
  c.channelMaxima = {5, kUnreadableNumber, std::numeric_limits<float>::max()};
  c.channelMinima = {5, kUnreadableNumber, kUnreadableNumber};
  EXPECT_EQ(ScaleSample(c, 0, 5), 0);
  EXPECT_EQ(ScaleSample(c, 0, 7), 0);
  EXPECT_EQ(ScaleSample(c, 1, 1), 0);
  EXPECT_EQ(ScaleSample(c, 2, 1), 0);
}

class Router : public ::testing::Test {
 protected:
  void Route(std::u16string_view line) { EXPECT_EQ(router.RouteLine(line), 0); }
  ProtocolState state;
  RecordingCommands commands;
  RecordingLines hostLines;
  ProtocolRouter router{state, commands, hostLines};
};

TEST_F(Router, AcknowledgementWaitsTakeOnlyTheirLetter) {
  state.waitState = kAwaitS;
  Route(u"B");
  EXPECT_EQ(state.waitState, kAwaitS);
  Route(u"S,ok");
  EXPECT_TRUE(state.acknowledged);
  EXPECT_EQ(state.waitState, kNoWait);

  state.waitState = kAwaitB;
  Route(u"S");
  EXPECT_FALSE(state.streaming);
  Route(u"B");
  EXPECT_TRUE(state.streaming);
  EXPECT_FALSE(state.acknowledged);
  EXPECT_EQ(state.waitState, kNoWait);
}

TEST_F(Router, LinesGoToTheDownloadWhileItRuns) {
  state.downloadState = kAwaitAcknowledgement;
  state.waitState = kAwaitS;
  Route(u"S");
  EXPECT_EQ(state.downloadState, kAwaitVersion);
  EXPECT_EQ(state.waitState, kAwaitS);
  EXPECT_EQ(commands.frames, std::vector<std::string>{":V\n"});
}

TEST_F(Router, StreamingLinesGoToTheDecoder) {
  auto c = std::make_shared<DeviceConfiguration>();
  c->channelNames = {u"t", u"a"};
  state.configuration.store(c);
  state.fieldCount = 2;
  state.streaming = true;
  Route(u"t,5");
  EXPECT_EQ(hostLines.lines, std::vector<std::string>{"@ \n"});
}

}  // namespace
}  // namespace vorn_test
