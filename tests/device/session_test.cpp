// A session against vorn-sim on a pseudo-terminal: initialisation, the
// firmware gate, the configuration, streaming and a device that goes away.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "common/sim_process.h"
#include "device/vorn_serial.h"
#include "firmware/firmware_requirements.h"
#include "support/code_page.h"
#include "support/status.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {

using namespace std::chrono_literals;
using vorn_test::SimProcess;

std::u16string Wide(const std::string &s) { return QVX::AnsiToWide(s); }

// The firmware file beside this test program, as the gate looks for it.
class FirmwareFileGuard {
 public:
  explicit FirmwareFileGuard(const std::string &text) {
    path_ = std::filesystem::path(QVX::WideToAnsi(FirmwareRequirements::DefaultPath()));
    std::filesystem::create_directories(path_.parent_path());
    std::ofstream(path_) << text;
  }
  ~FirmwareFileGuard() { std::filesystem::remove(path_); }

 private:
  std::filesystem::path path_;
};

class Session : public ::testing::Test {
 protected:
  std::unique_ptr<VornSerial> Open(const SimProcess &sim, bool quickWaits = true) {
    auto s = std::make_unique<VornSerial>(Wide(sim.path()), 42, Wide(sim.serial()));
    if (quickWaits) {
      s->protocol.timing.longStep = 100ms;
      s->protocol.timing.longLimit = 1500ms;
      s->protocol.timing.ackLimit = 1000ms;
    }
    return s;
  }
  static bool WaitFor(const std::function<bool()> &ready, std::chrono::milliseconds limit = 5s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }
  static bool Complete(const VornSerial &s) {
    const auto c = s.protocol.configuration.load();
    return c && c->Complete() && s.protocol.downloadState == kDownloadDone;
  }
  static CommandRecord Record(char *text, std::int32_t length, std::int32_t argument = 0) {
    CommandRecord r{};
    r.textBuffer = text;
    r.textLength = length;
    r.argument = argument;
    return r;
  }
};

TEST_F(Session, InitialisesAndDownloadsTheWholeSelfDescription) {
  SimProcess sim;
  ASSERT_TRUE(sim.ok());
  auto s = Open(sim);
  ASSERT_EQ(s->InitialiseSession(s->portName), QVX::kStatusOk);
  EXPECT_TRUE(s->IsOpen());
  EXPECT_FALSE(s->failed);
  EXPECT_EQ(s->GetBaudRate(), 115200);
  ASSERT_TRUE(WaitFor([&] { return Complete(*s); }));
  const auto c = s->protocol.configuration.load();
  EXPECT_EQ(c->channelNames.size(), static_cast<std::size_t>(s->protocol.fieldCount.load()));
  EXPECT_EQ(c->channelNames.front(), u"Count");
  EXPECT_EQ(c->channelMaxima.size(), c->channelNames.size());
  EXPECT_EQ(c->channelMinima.size(), c->channelNames.size());
  EXPECT_TRUE(c->offersEndOfCycle);
  EXPECT_EQ(c->periodChoices.front(), 2000);
  EXPECT_EQ(s->protocol.version.load()->firmwareRevision, u"1");
}

TEST_F(Session, EveryProfileGivesACompleteConfiguration) {
  for (const char *profile : {"crc", "na", "many", "nocycle"}) {
    SCOPED_TRACE(profile);
    SimProcess sim({"--profile", profile});
    ASSERT_TRUE(sim.ok());
    auto s = Open(sim);
    ASSERT_EQ(s->InitialiseSession(s->portName), QVX::kStatusOk);
    ASSERT_TRUE(WaitFor([&] { return Complete(*s); }));
    const auto c = s->protocol.configuration.load();
    EXPECT_EQ(c->hasCrcField, std::string(profile) == "crc");
    EXPECT_EQ(c->offersEndOfCycle, std::string(profile) != "nocycle");
  }
}

TEST_F(Session, FirmwareGateWithoutAFileWantsRevisionOne) {
  for (auto [firmware, accepted] : {std::pair{"1.9", true}, {"2", false}, {"abc", false}, {"1", true}}) {
    SCOPED_TRACE(firmware);
    SimProcess sim({"--firmware", firmware});
    auto s = Open(sim);
    EXPECT_EQ(s->InitialiseSession(s->portName) == QVX::kStatusOk, accepted);
    EXPECT_EQ(s->wrongFirmware.load(), !accepted);
    EXPECT_EQ(s->failed.load(), !accepted);
    EXPECT_TRUE(s->IsOpen());  // the port stays open after a rejection
  }
}

TEST_F(Session, FirmwareGateFollowsTheFile) {
  {
    FirmwareFileGuard file("[required]\nlcrev = 2\n");
    SimProcess two({"--firmware", "2.5"});
    auto s = Open(two);
    EXPECT_EQ(s->InitialiseSession(s->portName), QVX::kStatusOk);
    SimProcess one({"--firmware", "1"});
    auto t = Open(one);
    EXPECT_EQ(t->InitialiseSession(t->portName), QVX::kStatusFail);
    EXPECT_TRUE(t->wrongFirmware);
  }
  {
    FirmwareFileGuard file("[required]\nlcrev = 0\n");
    SimProcess zero({"--firmware", "0"});
    auto s = Open(zero);
    EXPECT_EQ(s->InitialiseSession(s->portName), QVX::kStatusFail);
    EXPECT_TRUE(s->wrongFirmware);
  }
}

TEST_F(Session, SilentDeviceIsNotResponding) {
  SimProcess sim({"--fault", "silent"});
  auto s = Open(sim);
  EXPECT_EQ(s->InitialiseSession(s->portName), QVX::kStatusFail);
  EXPECT_TRUE(s->failed);
  EXPECT_TRUE(s->protocol.notResponding);
  EXPECT_FALSE(s->wrongFirmware);
}

TEST_F(Session, PortThatCannotBeOpenedFails) {
  VornSerial s(u"/dev/vorn-no-such-port", 1, u"x");
  s.protocol.timing.ackLimit = 100ms;
  s.protocol.timing.longStep = 50ms;
  s.protocol.timing.longLimit = 200ms;
  EXPECT_EQ(s.InitialiseSession(s.portName), QVX::kStatusFail);
  EXPECT_TRUE(s.failed);
  EXPECT_TRUE(s.protocol.notResponding);
  EXPECT_FALSE(s.IsOpen());
}

TEST_F(Session, LateAndMangledAnswersStillInitialise) {
  for (const char *fault : {"late=150", "garbage", "overlong=5000", "high-bytes", "split-crlf=5", "trickle=0"}) {
    SCOPED_TRACE(fault);
    SimProcess sim({"--fault", fault});
    auto s = Open(sim);
    EXPECT_EQ(s->InitialiseSession(s->portName), QVX::kStatusOk);
    EXPECT_TRUE(WaitFor([&] { return Complete(*s); }, 10s));
  }
}

TEST_F(Session, NamesNotMatchingTheFieldsLeaveTheDownloadWaiting) {
  SimProcess sim({"--fault", "names-mismatch=1"});
  auto s = Open(sim);
  EXPECT_EQ(s->InitialiseSession(s->portName), QVX::kStatusOk);
  EXPECT_TRUE(WaitFor([&] { return s->protocol.notResponding.load(); }));
  EXPECT_EQ(s->protocol.downloadState, kAwaitNames);
}

TEST_F(Session, AFailedSessionRunsTheWholeExchangeAgain) {
  SimProcess sim({"--firmware", "2"});
  auto s = Open(sim);
  EXPECT_EQ(s->InitialiseSession(s->portName), QVX::kStatusFail);
  EXPECT_TRUE(s->IsOpen());
  s->Close();
  EXPECT_FALSE(s->IsOpen());
  EXPECT_EQ(s->InitialiseSession(s->portName), QVX::kStatusFail);
  EXPECT_TRUE(s->failed);  // never cleared
}

TEST_F(Session, StreamsDecodedLinesAndStopsOnRequest) {
  SimProcess sim;
  auto s = Open(sim);
  ASSERT_EQ(s->InitialiseSession(s->portName), QVX::kStatusOk);
  ASSERT_TRUE(WaitFor([&] { return Complete(*s); }));
  char text[64];
  CommandRecord r = Record(text, sizeof text, 1);
  ASSERT_TRUE(s->ExecuteCommand(VORN_CMD_ENABLE_CHANNEL, &r));
  r.argument = 2;
  ASSERT_TRUE(s->ExecuteCommand(VORN_CMD_ENABLE_CHANNEL, &r));
  r.argument = 2000;
  ASSERT_TRUE(s->ExecuteCommand(VORN_CMD_SELECT_PERIOD, &r));
  ASSERT_TRUE(s->ExecuteCommand(VORN_CMD_START, &r));
  int lines = 0;
  char line[128];
  while (lines < 50 && s->ReadLineFromRing(line, sizeof line, 2000) == 1) {
    ASSERT_EQ(std::string(line, 2), "@ ");
    int a = -1, b = -1;
    ASSERT_EQ(std::sscanf(line + 2, "%d,%d,", &a, &b), 2) << line;
    EXPECT_GE(a, 0);
    EXPECT_LE(a, 32767);
    EXPECT_GE(b, 0);
    EXPECT_LE(b, 32767);
    ++lines;
  }
  EXPECT_EQ(lines, 50);
  ASSERT_TRUE(s->ExecuteCommand(VORN_CMD_STOP, &r));
  EXPECT_FALSE(s->protocol.streaming);
  // Start again after a stop.
  ASSERT_TRUE(s->ExecuteCommand(VORN_CMD_START, &r));
  EXPECT_EQ(s->ReadLineFromRing(line, sizeof line, 2000), 1);
  ASSERT_TRUE(s->ExecuteCommand(VORN_CMD_STOP, &r));
}

// The device starts streaming but its B line never arrives: the stop must still
// send S and so stop the device; a start and a stop after that work as usual.
TEST_F(Session, AStopAfterALostBAnswerStillStopsTheDevice) {
  const std::string trace = ::testing::TempDir() + "vorn-session-lose-b.trace";
  std::remove(trace.c_str());
  SimProcess sim({"--fault", "lose-b-answer", "--trace", trace});
  auto s = Open(sim);
  ASSERT_EQ(s->InitialiseSession(s->portName), QVX::kStatusOk);
  ASSERT_TRUE(WaitFor([&] { return Complete(*s); }));
  auto traced = [&](const std::string &text) {
    std::ifstream in(trace);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return all.find(text) != std::string::npos;
  };
  char text[16];
  CommandRecord r = Record(text, sizeof text, 1);
  ASSERT_TRUE(s->ExecuteCommand(VORN_CMD_ENABLE_CHANNEL, &r));
  ASSERT_TRUE(s->ExecuteCommand(VORN_CMD_START, &r));
  ASSERT_TRUE(WaitFor([&] { return traced("stream started"); }));
  EXPECT_FALSE(s->protocol.streaming);

  ASSERT_TRUE(s->ExecuteCommand(VORN_CMD_STOP, &r));
  EXPECT_TRUE(WaitFor([&] { return traced("stream stopped by S"); }));
  EXPECT_FALSE(s->protocol.streaming);

  ASSERT_TRUE(s->ExecuteCommand(VORN_CMD_START, &r));
  char line[128];
  ASSERT_EQ(s->ReadLineFromRing(line, sizeof line, 2000), 1);
  EXPECT_EQ(std::string(line, 2), "@ ");
  ASSERT_TRUE(s->ExecuteCommand(VORN_CMD_STOP, &r));
  EXPECT_FALSE(s->protocol.streaming);
  std::remove(trace.c_str());
}

// The na profile's units line is cnt,mmHg,na,ml/s,na: every unit stays on its channel.
TEST_F(Session, ChannelsWithoutAUnitKeepTheLaterUnitsInPlace) {
  SimProcess sim({"--profile", "na"});
  auto s = Open(sim);
  ASSERT_EQ(s->InitialiseSession(s->portName), QVX::kStatusOk);
  ASSERT_TRUE(WaitFor([&] { return Complete(*s); }));
  auto unit = [&](std::int32_t channel) {
    char text[32] = "stale";
    CommandRecord r = Record(text, sizeof text, channel);
    EXPECT_TRUE(s->ExecuteCommand(VORN_CMD_CHANNEL_UNIT, &r));
    return std::string(text);
  };
  EXPECT_EQ(unit(1), "mmHg");
  EXPECT_EQ(unit(2), "");
  EXPECT_EQ(unit(3), "ml/s");
  EXPECT_EQ(unit(4), "");
  char text[64] = {};
  CommandRecord r = Record(text, sizeof text, 3);
  EXPECT_TRUE(s->ExecuteCommand(VORN_CMD_CHANNEL_RANGE, &r));
  EXPECT_STREQ(text, "-32767,32767,ml/s;");
}

TEST_F(Session, DeviceThatVanishesMidStreamFailsAndClosesPromptly) {
  SimProcess sim({"--fault", "vanish=20"});
  auto s = Open(sim);
  ASSERT_EQ(s->InitialiseSession(s->portName), QVX::kStatusOk);
  ASSERT_TRUE(WaitFor([&] { return Complete(*s); }));
  char text[8];
  CommandRecord r = Record(text, sizeof text, 1);
  s->ExecuteCommand(VORN_CMD_ENABLE_CHANNEL, &r);
  ASSERT_TRUE(s->ExecuteCommand(VORN_CMD_START, &r));
  EXPECT_TRUE(WaitFor([&] { return s->failed.load(); }));
  char line[64];
  while (s->ReadLineFromRing(line, sizeof line, 0) == 1) {
  }
  EXPECT_EQ(s->ReadLineFromRing(line, sizeof line, 50), 0);
  const auto start = std::chrono::steady_clock::now();
  s.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

}  // namespace
}  // namespace vorn_test
