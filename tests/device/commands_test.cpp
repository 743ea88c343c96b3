#include <gtest/gtest.h>

#include <cstring>

#include "device/protocol/commands.h"
#include "device/protocol/host_text_io.h"
#include "device/protocol/protocol_router.h"
#include "device/recording_sinks.h"
#include "resources/library_resources.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {

// A device that answers S and B at once through the real line router.
class InstantDevice : public RecordingCommands {
 public:
  LineRouter *router = nullptr;
  bool answers = true;
  bool answersB = true;  // false: B starts the stream, but its answer line is lost
  bool SendCommand(char letter) override {
    RecordingCommands::SendCommand(letter);
    if (!answers || !router) return true;
    if (letter == 'S' || (letter == 'B' && answersB)) router->RouteLine(std::u16string(1, letter));
    return true;
  }
};

class RingControl : public SessionControl {
 public:
  void ResetReceiveRing() override {
    ++resets;
    linesAtReset = hostLines ? hostLines->lines.size() : 0;
    // The receive thread may decode a line of the running stream at this very moment.
    if (oldStreamRouter) oldStreamRouter->RouteLine(u"9,1,2,3");
  }
  int resets = 0;
  const RecordingLines *hostLines = nullptr;
  LineRouter *oldStreamRouter = nullptr;
  std::size_t linesAtReset = 0;
};

class Commands : public ::testing::Test {
 protected:
  void SetUp() override {
    state.timing = {std::chrono::milliseconds(1), std::chrono::milliseconds(40), std::chrono::milliseconds(5),
                    std::chrono::milliseconds(30)};
    device.router = &router;
    auto c = std::make_shared<DeviceConfiguration>();
    c->channelNames = {u"t", u"ECG", u"BP", u"SpO2"};
    c->channelUnits = {u"s", u"mV", u"mmHg"};
    c->channelMaxima = {32767, 5, 300, 100};
    c->channelMinima = {-32767, -5, 0, 50};
    c->periodChoices = {500000, 1000000, 2000000};
    c->offersEndOfCycle = true;
    c->pendingLists = 0;
    state.configuration.store(c);
    state.version.store(std::make_shared<VersionInfo>(VersionInfo{u"4", u"1.2.3.4", u"Quellograph Q4"}));
    state.fieldCount = 4;
  }
  bool Run(std::uint32_t code, std::int32_t argument = 0) {
    std::memset(text, 'x', sizeof text);
    record = CommandRecord{};
    record.textBuffer = text;
    record.textLength = sizeof text;
    record.argument = argument;
    record.intResult = -99;
    record.floatResult = -99;
    return commands.ExecuteCommand(code, record);
  }
  std::string Text() const { return text[0] == 'x' ? "<unchanged>" : std::string(text); }

  ProtocolState state;
  InstantDevice device;
  RecordingLines hostLines;
  ProtocolRouter router{state, device, hostLines};
  RingControl ring;
  std::u16string serial = u"1234567";
  HostCommands commands{state, device, ring, serial};
  char text[64];
  CommandRecord record{};
};

TEST_F(Commands, TextRepliesComeFromTheVersionAndTheDiscoveredSerial) {
  EXPECT_TRUE(Run(VORN_CMD_PRODUCT_NAME));
  EXPECT_EQ(Text(), "Quellograph Q4");
  EXPECT_TRUE(Run(VORN_CMD_VERSION_TEXT));
  EXPECT_EQ(Text(), "1.2.3.4");
  EXPECT_TRUE(Run(VORN_CMD_SERIAL_TEXT));
  EXPECT_EQ(Text(), "1234567");
}

TEST_F(Commands, ChannelQueriesIndexTheirListsAndIgnoreOutOfRangeArguments) {
  EXPECT_TRUE(Run(VORN_CMD_LAST_CHANNEL));
  EXPECT_EQ(record.intResult, 3);
  EXPECT_TRUE(Run(VORN_CMD_CHANNEL_NAME, 2));
  EXPECT_EQ(Text(), "BP");
  EXPECT_TRUE(Run(VORN_CMD_CHANNEL_NAME, 4));
  EXPECT_EQ(Text(), "<unchanged>");
  EXPECT_TRUE(Run(VORN_CMD_CHANNEL_UNIT, 1));
  EXPECT_EQ(Text(), "mV");
  EXPECT_TRUE(Run(VORN_CMD_CHANNEL_UNIT, 3));  // units list is shorter: nothing
  EXPECT_EQ(Text(), "<unchanged>");
  EXPECT_TRUE(Run(VORN_CMD_CHANNEL_MINIMUM, 2));
  EXPECT_EQ(record.floatResult, 0.0f);
  EXPECT_TRUE(Run(VORN_CMD_CHANNEL_MAXIMUM, 2));
  EXPECT_EQ(record.floatResult, 300.0f);
  EXPECT_TRUE(Run(VORN_CMD_CHANNEL_MAXIMUM, -1));
  EXPECT_EQ(record.floatResult, -99.0f);
  EXPECT_TRUE(Run(VORN_CMD_RESERVED_59));
  EXPECT_EQ(record.intResult, 0);
}

TEST_F(Commands, RangeTextIsMinimumMaximumAndUnit) {
  EXPECT_TRUE(Run(VORN_CMD_CHANNEL_RANGE, 2));
  EXPECT_EQ(Text(), "0,300,mmHg;");
  EXPECT_TRUE(Run(VORN_CMD_CHANNEL_RANGE, 0));
  EXPECT_EQ(Text(), "-32767,32767,s;");
  EXPECT_TRUE(Run(VORN_CMD_CHANNEL_RANGE, 3));
  EXPECT_EQ(Text(), "<unchanged>");
}

// A unit line of s,mV,na,ml/s: the "na" channel has no unit and ml/s stays on the last one.
TEST_F(Commands, ChannelWithoutAUnitGivesAnEmptyUnitAndTheOthersKeepTheirs) {
  auto c = std::make_shared<DeviceConfiguration>(*state.configuration.load());
  c->channelUnits = {u"s", u"mV", u"", u"ml/s"};
  state.configuration.store(c);
  EXPECT_TRUE(Run(VORN_CMD_CHANNEL_UNIT, 2));
  EXPECT_EQ(Text(), "");
  EXPECT_TRUE(Run(VORN_CMD_CHANNEL_RANGE, 2));
  EXPECT_EQ(Text(), "0,300,;");
  EXPECT_TRUE(Run(VORN_CMD_CHANNEL_UNIT, 3));
  EXPECT_EQ(Text(), "ml/s");
  EXPECT_TRUE(Run(VORN_CMD_CHANNEL_RANGE, 3));
  EXPECT_EQ(Text(), "50,100,ml/s;");
}

TEST_F(Commands, PeriodListIsWrittenLastEntryFirst) {
  EXPECT_TRUE(Run(VORN_CMD_PERIOD_LIST));
  EXPECT_EQ(Text(), "2000000,1000000,500000");
  auto c = std::make_shared<DeviceConfiguration>(*state.configuration.load());
  c->periodChoices.clear();
  state.configuration.store(c);
  EXPECT_TRUE(Run(VORN_CMD_PERIOD_LIST));
  EXPECT_EQ(Text(), "<unchanged>");
}

TEST_F(Commands, ControlListIsTheScriptAndOneLineFeed) {
  EXPECT_TRUE(Run(VORN_CMD_CONTROL_LIST, 1));
  const std::u16string reply = ControlListReply();
  ASSERT_EQ(reply.size(), 348u);
  EXPECT_EQ(reply.substr(0, 4), u"/*\r\n");
  EXPECT_EQ(reply.substr(reply.size() - 4), u"}\r\n\n");
  // A 64-byte buffer holds the first 63 bytes and the terminator.
  EXPECT_EQ(Text(), LoadControlListScript().substr(0, 63));
  EXPECT_TRUE(Run(VORN_CMD_CONTROL_LIST, 9));
  EXPECT_EQ(Text(), "<unchanged>");
}

TEST_F(Commands, TextRepliesNeverPassTheHostsLength) {
  char small[5];
  std::memset(small, 'x', sizeof small);
  CommandRecord r{};
  r.textBuffer = small;
  r.textLength = 4;
  EXPECT_TRUE(commands.ExecuteCommand(VORN_CMD_PRODUCT_NAME, r));
  EXPECT_STREQ(small, "Que");
  EXPECT_EQ(small[4], 'x');
  r.textLength = 0;
  small[0] = 'y';
  EXPECT_TRUE(commands.ExecuteCommand(VORN_CMD_PRODUCT_NAME, r));
  EXPECT_EQ(small[0], 'y');
}

TEST_F(Commands, UnsupportedCodesSayAndFail) {
  for (std::uint32_t code : {1u, 5u, 36u, 60u, 0xFFFFFFFFu}) {
    EXPECT_FALSE(Run(code));
    EXPECT_EQ(Text(), "^Unsupported SDA command");
  }
}

TEST_F(Commands, PeriodSelectSendsSThenThePosition) {
  EXPECT_TRUE(Run(VORN_CMD_SELECT_PERIOD, 2000000));
  EXPECT_EQ(device.frames, (std::vector<std::string>{":S\n", ":P3\n"}));
  device.frames.clear();
  EXPECT_TRUE(Run(VORN_CMD_SELECT_PERIOD, 123));
  EXPECT_TRUE(device.frames.empty());
}

TEST_F(Commands, PeriodPositionsBeyondTwoDigitsSendNothingAndFail) {
  auto c = std::make_shared<DeviceConfiguration>(*state.configuration.load());
  c->periodChoices.assign(120, 7);
  c->periodChoices.back() = 9;
  c->offersEndOfCycle = false;
  state.configuration.store(c);
  EXPECT_FALSE(commands.SendPeriodSelect(9));
  EXPECT_TRUE(device.frames.empty());
  EXPECT_TRUE(commands.SendPeriodSelect(7));
}

TEST_F(Commands, EnableAndDisableChangeTheDecodedPositions) {
  EXPECT_TRUE(Run(VORN_CMD_ENABLE_CHANNEL, 3));
  EXPECT_TRUE(Run(VORN_CMD_ENABLE_CHANNEL, 1));
  EXPECT_TRUE(Run(VORN_CMD_ENABLE_CHANNEL, 3));
  EXPECT_EQ(*state.enabledChannels.load(), (EnabledChannels{1, 3}));
  EXPECT_TRUE(Run(VORN_CMD_DISABLE_CHANNEL, 3));
  EXPECT_TRUE(Run(VORN_CMD_DISABLE_CHANNEL, 7));
  EXPECT_EQ(*state.enabledChannels.load(), (EnabledChannels{1}));
}

TEST_F(Commands, StartEmptiesTheRingHandshakesAndStreams) {
  EXPECT_TRUE(Run(VORN_CMD_START));
  EXPECT_EQ(ring.resets, 1);
  EXPECT_EQ(device.frames, (std::vector<std::string>{":S\n", ":B\n"}));
  EXPECT_TRUE(state.streaming);
  EXPECT_FALSE(state.acknowledged);

  device.frames.clear();
  EXPECT_TRUE(Run(VORN_CMD_STOP));
  EXPECT_FALSE(state.streaming);
  EXPECT_TRUE(state.acknowledged);
  EXPECT_EQ(device.frames, std::vector<std::string>{":S\n"});

  // Already acknowledged: stop sends nothing, start sends only B.
  device.frames.clear();
  EXPECT_TRUE(Run(VORN_CMD_STOP));
  EXPECT_TRUE(device.frames.empty());
  EXPECT_TRUE(Run(VORN_CMD_START));
  EXPECT_EQ(device.frames, std::vector<std::string>{":B\n"});
}

TEST_F(Commands, StartWhileStreamingStillHandshakes) {
  EXPECT_TRUE(Run(VORN_CMD_START));
  device.frames.clear();
  EXPECT_TRUE(Run(VORN_CMD_START));
  EXPECT_EQ(device.frames, (std::vector<std::string>{":S\n", ":B\n"}));
  EXPECT_TRUE(state.streaming);
}

TEST_F(Commands, ALostAnswerTimesOutWithoutJammingLaterCommands) {
  device.answers = false;
  EXPECT_FALSE(Run(VORN_CMD_START));
  EXPECT_EQ(state.waitState, kNoWait);
  EXPECT_FALSE(state.notResponding);
  device.answers = true;
  EXPECT_TRUE(Run(VORN_CMD_START));
  EXPECT_TRUE(state.streaming);
  device.answers = false;
  EXPECT_TRUE(Run(VORN_CMD_STOP) == false);
  EXPECT_EQ(state.waitState, kNoWait);
  device.answers = true;
  EXPECT_TRUE(Run(VORN_CMD_STOP));
}

// The device started streaming but its B line never came: the stop must still
// send S (and so stop the device), and start and stop work normally afterwards.
TEST_F(Commands, AStopAfterALostBAnswerSendsSAndWaitsForIt) {
  device.answersB = false;
  EXPECT_TRUE(Run(VORN_CMD_START));
  EXPECT_EQ(state.waitState, kAwaitB);
  EXPECT_FALSE(state.acknowledged);
  device.answersB = true;
  device.frames.clear();
  EXPECT_TRUE(Run(VORN_CMD_STOP));
  EXPECT_EQ(device.frames, std::vector<std::string>{":S\n"});
  EXPECT_FALSE(state.streaming);
  EXPECT_TRUE(state.acknowledged);
  EXPECT_EQ(state.waitState, kNoWait);

  device.frames.clear();
  EXPECT_TRUE(Run(VORN_CMD_START));
  EXPECT_TRUE(state.streaming);
  EXPECT_TRUE(Run(VORN_CMD_STOP));
  EXPECT_EQ(device.frames, (std::vector<std::string>{":B\n", ":S\n"}));
  EXPECT_FALSE(state.streaming);
}

TEST_F(Commands, AStartAfterALostBAnswerHandshakesAgain) {
  device.answersB = false;
  EXPECT_TRUE(Run(VORN_CMD_START));
  device.answersB = true;
  device.frames.clear();
  EXPECT_TRUE(Run(VORN_CMD_START));
  EXPECT_EQ(device.frames, (std::vector<std::string>{":S\n", ":B\n"}));
  EXPECT_TRUE(state.streaming);
}

// A late B line after a stop took its wait over does not turn decoding back on.
TEST_F(Commands, ALateBLineAfterTheStopIsIgnored) {
  device.answersB = false;
  EXPECT_TRUE(Run(VORN_CMD_START));
  EXPECT_TRUE(Run(VORN_CMD_STOP));
  router.RouteLine(u"B");
  EXPECT_FALSE(state.streaming);
  EXPECT_TRUE(state.acknowledged);
}

// A restart must not hand the host a line of the old stream: the ring is emptied
// only once the old stream can no longer be decoded.
TEST_F(Commands, RestartEmptiesTheRingOnlyAfterTheOldStreamStopped) {
  EXPECT_TRUE(Run(VORN_CMD_START));
  ASSERT_TRUE(state.streaming);
  ring.hostLines = &hostLines;
  ring.oldStreamRouter = &router;
  device.frames.clear();
  EXPECT_TRUE(Run(VORN_CMD_START));
  EXPECT_EQ(hostLines.lines.size(), ring.linesAtReset);
  EXPECT_EQ(device.frames, (std::vector<std::string>{":S\n", ":B\n"}));
  EXPECT_TRUE(state.streaming);
}

TEST_F(Commands, WithoutAConfigurationEveryCodeFailsAfterTheWait) {
  state.configuration.store(nullptr);
  EXPECT_FALSE(Run(VORN_CMD_PRODUCT_NAME));
  EXPECT_FALSE(Run(5));
  EXPECT_EQ(Text(), "<unchanged>");
  EXPECT_TRUE(state.notResponding);
}

TEST_F(Commands, AnIncompleteConfigurationIsUsedAfterTheWait) {
  auto c = std::make_shared<DeviceConfiguration>(*state.configuration.load());
  c->pendingLists = 0x0E;
  state.configuration.store(c);
  EXPECT_TRUE(Run(VORN_CMD_LAST_CHANNEL));
  EXPECT_EQ(record.intResult, 3);
}

TEST(FormatHostFloat, WritesGeneralNotationWithSixDigitsAndThreeDigitExponents) {
  EXPECT_EQ(FormatHostFloat(0), u"0");
  EXPECT_EQ(FormatHostFloat(-32767), u"-32767");
  EXPECT_EQ(FormatHostFloat(300), u"300");
  EXPECT_EQ(FormatHostFloat(1234567), u"1.23457e+006");
  EXPECT_EQ(FormatHostFloat(0.0001f), u"0.0001");
  EXPECT_EQ(FormatHostFloat(0.00001f), u"1e-005");
}

}  // namespace
}  // namespace vorn_test
