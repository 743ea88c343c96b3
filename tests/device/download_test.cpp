#include <gtest/gtest.h>

#include "device/protocol/download.h"
#include "support/fields.h"
#include "device/recording_sinks.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {

class Download : public ::testing::Test {
 protected:
  QVX::Status Feed(std::u16string_view line) { return download.HandleDownloadLine(line); }
  // Runs the exchange up to the names line (state 6 with the I echo seen).
  void UpToNames(std::u16string_view fieldLine) {
    state.downloadState = kAwaitAcknowledgement;
    Feed(u"S");
    Feed(u"V,1,2,3,4,Quellograph Q4");
    Feed(u"F");
    Feed(fieldLine);
    Feed(u"EndOfCycle,0.5,1,2");
    Feed(u"U");
    Feed(u"I");
  }
  std::shared_ptr<const DeviceConfiguration> Config() { return state.configuration.load(); }

  ProtocolState state;
  RecordingCommands commands;
  ConfigurationDownload download{state, commands};
};

TEST_F(Download, FullExchangeFillsTheConfigurationAndSendsEachRequestOnce) {
  UpToNames(u"t,ECG,BP,SpO2");
  EXPECT_EQ(Feed(u"t,ECG,BP,SpO2"), 0);
  Feed(u"s,mV,na,%");
  Feed(u"na,5,300,100");
  Feed(u"na,-5,0,50");
  EXPECT_EQ(state.downloadState, kDownloadDone);
  EXPECT_EQ(commands.frames, (std::vector<std::string>{":V\n", ":F\n", ":U1111\r", ":I\n"}));
  EXPECT_TRUE(state.acknowledged);
  EXPECT_EQ(state.fieldCount, 4);

  const auto version = state.version.load();
  ASSERT_TRUE(version);
  EXPECT_EQ(version->versionText, u"1.2.3.4");
  EXPECT_EQ(version->firmwareRevision, u"4");
  EXPECT_EQ(version->productName, u"Quellograph Q4");

  const auto c = Config();
  ASSERT_TRUE(c);
  EXPECT_TRUE(c->Complete());
  EXPECT_EQ(c->channelNames, (std::vector<std::u16string>{u"t", u"ECG", u"BP", u"SpO2"}));
  EXPECT_EQ(c->channelUnits, (std::vector<std::u16string>{u"s", u"mV", u"", u"%"}));
  EXPECT_EQ(c->channelMaxima, (std::vector<float>{32767.0f, 5.0f, 300.0f, 100.0f}));
  EXPECT_EQ(c->channelMinima, (std::vector<float>{-32767.0f, -5.0f, 0.0f, 50.0f}));
  EXPECT_TRUE(c->offersEndOfCycle);
  EXPECT_EQ(c->periodChoices, (std::vector<std::int32_t>{500000, 1000000, 2000000}));
  EXPECT_EQ(c->FindPeriodPosition(2000000), 3);
  EXPECT_EQ(c->FindPeriodPosition(7), -1);
}

TEST_F(Download, EmptyLinesAndStreamingChangeNothing) {
  state.downloadState = kAwaitAcknowledgement;
  Feed(u"");
  EXPECT_EQ(state.downloadState, kAwaitAcknowledgement);
  state.streaming = true;
  Feed(u"S");
  EXPECT_EQ(state.downloadState, kAwaitAcknowledgement);
  EXPECT_TRUE(commands.frames.empty());
}

TEST_F(Download, LinesOutOfOrderAreIgnoredInTheirState) {
  state.downloadState = kAwaitVersion;
  Feed(u"U");
  Feed(u"S");
  EXPECT_EQ(state.downloadState, kAwaitVersion);
  EXPECT_TRUE(commands.frames.empty());
}

TEST_F(Download, FiveFieldVersionLineUsesTheDefaultProductName) {
  state.downloadState = kAwaitVersion;
  Feed(u"V,1,2,3,4");
  EXPECT_EQ(state.version.load()->productName, u"Quellograph");
  EXPECT_EQ(state.version.load()->versionText, u"1.2.3.4");
}

TEST_F(Download, ShortVersionLineReadsMissingFieldsAsEmpty) {
  state.downloadState = kAwaitVersion;
  Feed(u"V,1");
  const auto version = state.version.load();
  EXPECT_EQ(version->versionText, u"1...");
  EXPECT_EQ(version->firmwareRevision, u"");
  EXPECT_EQ(state.downloadState, kAwaitFieldCount);
}

TEST_F(Download, FieldCountIsCommasPlusOne) {
  state.downloadState = kAwaitFieldCount;
  Feed(u"F");
  Feed(u"a,,b");
  EXPECT_EQ(state.fieldCount, 3);
  state.downloadState = kAwaitFieldCount;
  Feed(u"single");
  EXPECT_EQ(state.fieldCount, 1);
}

TEST_F(Download, FieldLineBeforeAnyEchoWaits) {
  state.downloadState = kAwaitFieldCount;
  Feed(u"a,b");
  EXPECT_EQ(state.downloadState, kAwaitFieldCount);
}

TEST_F(Download, FieldMaskSelectsEveryField) {
  state.downloadState = kAwaitFieldCount;
  Feed(u"F");
  Feed(u"t");
  Feed(u"1,2");
  EXPECT_EQ(commands.frames.back(), ":U1\r");
}

TEST_F(Download, WideFieldLineSendsTheWholeMask) {
  state.downloadState = kAwaitFieldCount;
  Feed(u"F");
  std::u16string fields = u"t";
  for (int i = 1; i < 40; ++i) fields += u",c";
  Feed(fields);
  Feed(u"1");
  EXPECT_EQ(commands.frames.back(), ":U" + std::string(40, '1') + "\r");
}

TEST_F(Download, CrcFieldIsNeverANameAndAllowsOneNameLess) {
  UpToNames(u"t,a,b,c,CRC");
  EXPECT_EQ(Feed(u"t,a,CRC,b,c"), 0);
  const auto c = Config();
  EXPECT_TRUE(c->hasCrcField);
  EXPECT_EQ(c->channelNames, (std::vector<std::u16string>{u"t", u"a", u"b", u"c"}));
  EXPECT_EQ(state.downloadState, kAwaitUnits);
}

TEST_F(Download, NamesNotMatchingTheFieldCountAbortAndStay) {
  UpToNames(u"t,a,b,c,d");
  EXPECT_EQ(Feed(u"t,a,b,c"), QVX::kStatusAbort);
  EXPECT_TRUE(state.notResponding);
  EXPECT_EQ(state.downloadState, kAwaitNames);
  // A further line appends to the names and the check is made again.
  EXPECT_EQ(Feed(u"d"), 0);
  EXPECT_EQ(state.downloadState, kAwaitUnits);
}

TEST_F(Download, RunawayNamesLinesDoNotGrowWithoutBound) {
  UpToNames(u"t,a");
  for (int i = 0; i < 100; ++i) EXPECT_EQ(Feed(u"x,x,x,x,x,x,x,x"), QVX::kStatusAbort);
  EXPECT_LE(Config()->channelNames.size(), 4u);
}

TEST_F(Download, UnreadablePeriodsSaturate) {
  state.downloadState = kAwaitPeriods;
  Feed(u"abc,1e30,0.000001");
  EXPECT_EQ(Config()->periodChoices, (std::vector<std::int32_t>{INT32_MIN, INT32_MAX, 1}));
  EXPECT_FALSE(Config()->offersEndOfCycle);
  EXPECT_EQ(Config()->FindPeriodPosition(1), 2);
}

TEST_F(Download, UnreadableLimitsStoreTheMostNegativeFloat) {
  UpToNames(u"t,a");
  Feed(u"t,a");
  Feed(u"na,na");
  Feed(u"na,xyz");
  EXPECT_EQ(Config()->channelUnits, (std::vector<std::u16string>{u"", u""}));
  EXPECT_EQ(Config()->channelMaxima[1], kUnreadableNumber);
}

// An "na" unit must not move the later units onto earlier channels.
TEST_F(Download, NaUnitsKeepEveryLaterUnitOnItsOwnChannel) {
  UpToNames(u"t,ECG,SpO2,Flow");
  Feed(u"t,ECG,SpO2,Flow");
  Feed(u"s,mV,na,ml/s");
  EXPECT_EQ(Config()->channelUnits, (std::vector<std::u16string>{u"s", u"mV", u"", u"ml/s"}));
}

TEST_F(Download, ANewDownloadReplacesTheConfigurationAndForgetsEnabledChannels) {
  UpToNames(u"t,a");
  Feed(u"t,a");
  state.enabledChannels.store(std::make_shared<const EnabledChannels>(EnabledChannels{1}));
  const auto first = Config();
  state.downloadState = kAwaitAcknowledgement;
  Feed(u"S");
  Feed(u"V,1,2,3,4");
  Feed(u"t,a");  // echoSeen stays from before, so no F echo is needed
  Feed(u"1,2");
  EXPECT_NE(Config(), first);
  EXPECT_TRUE(Config()->channelNames.empty());
  EXPECT_TRUE(state.enabledChannels.load()->empty());
  EXPECT_EQ(first->channelNames.size(), 2u);  // readers holding the old one keep it whole
}

}  // namespace
}  // namespace vorn_test
