// The whole chain a host runs, through the sixteen exports against simulated
// devices: find, initialise, describe, stream, stop, close. Run natively and,
// under Wine, against the Windows DLL.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/process_probe.h"
#include "driver/test_devices.h"
#include "tools/hostlib/vorn_library.h"

namespace vorn_test {
namespace {

using vorn_host::VornLibrary;

class Chain : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(lib.Load(VORN_LIBRARY_PATH, error)) << error;
  }
  void TearDown() override {
    lib.CloseAll();
    lib.Unload();
    SetVornPorts("");
  }
  // Points discovery at the given devices and finds the first one.
  std::int32_t FindFirst(std::initializer_list<Role> roles) {
    std::string ports;
    for (Role r : roles) {
      const std::string entry = DevicePort(r);
      if (entry.empty()) return -2;
      ports += (ports.empty() ? "" : ";") + entry;
    }
    SetVornPorts(ports);
    std::int32_t index = -1;
    return lib.FindDevice(&index) == 1 ? index : -1;
  }
  std::string Text(std::int32_t index, std::uint32_t code, std::int32_t argument = 0) {
    char buffer[512];
    std::memset(buffer, 0, sizeof buffer);
    CommandRecord r{};
    r.textBuffer = buffer;
    r.textLength = sizeof buffer;
    r.argument = argument;
    if (lib.DeviceCommand(index, code, &r) != 1) return "<failed>";
    return buffer;
  }
  std::int32_t Int(std::int32_t index, std::uint32_t code, std::int32_t argument = 0) {
    CommandRecord r{};
    r.argument = argument;
    r.intResult = -99;
    lib.DeviceCommand(index, code, &r);
    return r.intResult;
  }
  bool Command(std::int32_t index, std::uint32_t code, std::int32_t argument = 0) {
    CommandRecord r{};
    r.argument = argument;
    return lib.DeviceCommand(index, code, &r) == 1;
  }
  std::string GeneralMessage() {
    const std::int32_t size = lib.GetLastErrorMsg(-1, nullptr);
    std::vector<char> buffer(static_cast<std::size_t>(size), 'x');
    lib.GetLastErrorMsg(-1, buffer.data());
    return std::string(buffer.data());
  }
  VornLibrary lib;
};

TEST_F(Chain, FindsInitialisesAndDescribesADevice) {
  const std::int32_t index = FindFirst({Role::kDefault});
  ASSERT_EQ(index, 0);
  std::int32_t id = 0;
  ASSERT_EQ(lib.GetUniqueID(index, &id), 1);
  EXPECT_EQ(id, ((0 * 42 + 0) * 42 + 0) * 42 + 5);  // part "0005" of remainder "0000501"
  ASSERT_EQ(lib.Initialise(index), 1);
  EXPECT_EQ(lib.IsFailed(index), 0);
  EXPECT_EQ(lib.GetBaudRate(index), 115200);
  EXPECT_EQ(Text(index, 4), "0000501");
  EXPECT_EQ(Int(index, 11), 4);
  EXPECT_EQ(Text(index, 21, 1), "ECG");
  EXPECT_NE(Text(index, 22, 1).find(";"), std::string::npos);
  EXPECT_EQ(Text(index, 32), "10000,5000,2000");
  EXPECT_EQ(Text(index, 5), "<failed>");
  // A second Initialise of a running device returns at once.
  EXPECT_EQ(lib.Initialise(index), 1);
  EXPECT_EQ(GeneralMessage(), "The Vorn Device is not responding or powered off.");
  EXPECT_EQ(lib.GetLastErrorMsg(index, nullptr), 1);
}

TEST_F(Chain, TwoDevicesAreFoundInOrderThenNoneThenTheFirstAgain) {
  ASSERT_EQ(FindFirst({Role::kDefault, Role::kSecond}), 0);
  std::int32_t index = -1;
  ASSERT_EQ(lib.FindDevice(&index), 1);
  EXPECT_EQ(index, 1);
  index = 77;
  EXPECT_EQ(lib.FindDevice(&index), 0);
  EXPECT_EQ(index, 77);
  ASSERT_EQ(lib.FindDevice(&index), 1);
  EXPECT_EQ(index, 2);
  std::int32_t first = 0, again = 0;
  lib.GetUniqueID(0, &first);
  lib.GetUniqueID(2, &again);
  EXPECT_EQ(first, again);
  EXPECT_EQ(lib.CloseAll(), 1);
  EXPECT_EQ(lib.IsFailed(0), 1);
  ASSERT_EQ(lib.FindDevice(&index), 1);
  EXPECT_EQ(index, 0);
}

TEST_F(Chain, WrongFirmwareIsReportedByTheGeneralMessage) {
  const std::int32_t index = FindFirst({Role::kWrongFirmware});
  ASSERT_EQ(index, 0);
  EXPECT_EQ(lib.Initialise(index), 0);
  EXPECT_EQ(lib.IsFailed(index), 1);
  EXPECT_EQ(lib.GetLastErrorMsg(-1, nullptr), 143);
}

TEST_F(Chain, StreamsScaledLinesInOrderAndStops) {
  const std::int32_t index = FindFirst({Role::kCrc});
  ASSERT_EQ(index, 0);
  ASSERT_EQ(lib.Initialise(index), 1);
  const std::int32_t last = Int(index, 11);
  for (std::int32_t p = 1; p <= last; ++p) ASSERT_TRUE(Command(index, 42, p));
  ASSERT_TRUE(Command(index, 35, 2000));
  ASSERT_TRUE(Command(index, 37));
  char line[256];
  int count = 0;
  while (count < 200 && lib.ReadLine(index, line, sizeof line, 2000) == 1) {
    ASSERT_EQ(std::strncmp(line, "@ ", 2), 0) << line;
    int commas = 0;
    for (const char *c = line + 2; *c; ++c) {
      ASSERT_TRUE((*c >= '0' && *c <= '9') || *c == ',') << line;
      commas += *c == ',';
    }
    EXPECT_EQ(commas, last - 1) << line;
    ++count;
  }
  EXPECT_EQ(count, 200);
  ASSERT_TRUE(Command(index, 38));
  // Blocks: what is waiting can be taken in one piece.
  ASSERT_TRUE(Command(index, 37));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::int32_t waiting = lib.ReadBuffSize(index);
  EXPECT_GT(waiting, 0);
  std::vector<char> block(static_cast<std::size_t>(waiting) + 1, '\0');
  EXPECT_EQ(lib.ReadBuffer(index, block.data(), waiting, 1000), 1);
  EXPECT_EQ(std::strncmp(block.data(), "@ ", 2), 0);
  ASSERT_TRUE(Command(index, 38));
  lib.FlushReadBuffer(index);
  EXPECT_EQ(lib.ReadBuffSize(index), 0);
}

TEST_F(Chain, ADeviceThatIsUnpluggedMidStreamFailsAndClosesPromptly) {
  const std::int32_t index = FindFirst({Role::kDefault});
  ASSERT_EQ(index, 0);
  ASSERT_EQ(lib.Initialise(index), 1);
  ASSERT_TRUE(Command(index, 42, 1));
  ASSERT_TRUE(Command(index, 37));
  char line[128];
  ASSERT_EQ(lib.ReadLine(index, line, sizeof line, 2000), 1);
  if (!UnplugDevice(Role::kDefault)) GTEST_SKIP() << "devices of this host cannot be unplugged";
  for (int i = 0; i < 200 && lib.IsFailed(index) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(lib.IsFailed(index), 1);
  while (lib.ReadLine(index, line, sizeof line, 0) == 1) {
  }
  EXPECT_EQ(lib.ReadLine(index, line, sizeof line, 50), 0);
  EXPECT_EQ(lib.CloseAll(), 1);
}

// A device whose lines the session drops (the stream after a lost B answer, the
// lines after names that do not match the field count) must not hold a reader past
// its time-out: a host with one thread could otherwise never send the stop.
TEST_F(Chain, ReadsEndAtTheirTimeOutWhileTheDeviceSendsLinesThatAreDropped) {
  for (Role role : {Role::kLostB, Role::kNamesMismatch}) {
    SCOPED_TRACE(role == Role::kLostB ? "lost B answer" : "names mismatch");
    ASSERT_EQ(FindFirst({role}), 0);
    ASSERT_EQ(lib.Initialise(0), 1);
    ASSERT_TRUE(Command(0, 37));
    // The device streams now; give it time to fill the port with lines nobody takes.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    char buffer[256];
    for (int round = 0; round < 3; ++round) {
      auto t0 = std::chrono::steady_clock::now();
      EXPECT_EQ(lib.ReadLine(0, buffer, sizeof buffer, 200), 0);
      // Generous for a loaded machine and Wine; before, the call lasted as long as the device talked.
      EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1000));
      t0 = std::chrono::steady_clock::now();
      EXPECT_EQ(lib.ReadBuffer(0, buffer, sizeof buffer, 200), 0);
      EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1000));
    }
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(Command(0, 38));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(6));
    EXPECT_EQ(lib.CloseAll(), 1);
  }
}

// After CloseAll no code of the library may still run on a receive thread: a host
// that frees the library next would have it unmapped under that thread.
TEST_F(Chain, CloseAllReturnsOnlyOnceTheReceiveThreadsHaveEnded) {
  ASSERT_EQ(FindFirst({Role::kDefault, Role::kSecond}), 0);
  std::int32_t second = -1;
  ASSERT_EQ(lib.FindDevice(&second), 1);
  ASSERT_EQ(lib.Initialise(0), 1);
  ASSERT_EQ(lib.Initialise(second), 1);
  if (LibraryThreads(lib.handle).Taken() < 0) GTEST_SKIP() << "this platform cannot tell where a thread started";
  ASSERT_TRUE(Command(0, 42, 1));
  ASSERT_TRUE(Command(0, 37));
  char line[128];
  ASSERT_EQ(lib.ReadLine(0, line, sizeof line, 2000), 1);
  for (int round = 1; round <= 10; ++round) {
    const LibraryThreads receiving(lib.handle);
    EXPECT_EQ(receiving.Taken(), round == 1 ? 2 : 1);
    EXPECT_EQ(lib.CloseAll(), 1);
    EXPECT_EQ(receiving.StillRunning(), 0) << "after CloseAll " << round;
    ASSERT_EQ(FindFirst({Role::kDefault}), 0);
    ASSERT_EQ(lib.Initialise(0), 1);
  }
}

// The first calls of a load, text replies among them, made on a host thread that
// lives on: they must leave that thread nothing of the library's. On Windows the
// threading runtime linked into the library kept a record of a thread that ran a
// one-time initialisation (two handles), which no unload could free.
TEST_F(Chain, TheFirstCallsOfALoadLeaveTheCallingThreadNoHandle) {
  const std::string port = DevicePort(Role::kCrc);
  ASSERT_FALSE(port.empty());
  SetVornPorts(port);
  std::atomic<int> stage{0};
  std::atomic<bool> ok{false};
  std::thread host([&] {
    while (stage != 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::int32_t index = -1;
    char text[512];
    bool fine = lib.FindDevice(&index) == 1 && lib.Initialise(index) == 1;
    for (std::uint32_t code : {0u, 3u, 4u, 11u, 17u, 18u, 19u, 21u, 22u, 28u, 32u, 42u, 37u}) {
      fine = fine && Command(index, code, 1);
    }
    fine = fine && lib.ReadLine(index, text, sizeof text, 2000) == 1 && Command(index, 38);
    fine = fine && lib.GetLastErrorMsg(index, text) == 1 && lib.GetLastErrorMsg(-1, text) > 1;
    fine = fine && lib.CloseAll() == 1;
    ok = fine;
    stage = 2;
    while (stage != 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  // Both counts with the host thread alive and waiting, so that only what the calls left differs.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const ProcessCounts before = CountProcessResources();
  stage = 1;
  while (stage != 2) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  // The receive thread has ended; what a system keeps of it a moment longer may go first.
  ProcessCounts after = CountProcessResources();
  for (int i = 0; i < 40 && (after.handles > before.handles || after.threads > before.threads); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    after = CountProcessResources();
  }
  stage = 3;
  host.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(after.threads, before.threads);
  EXPECT_LE(after.handles, before.handles) << "handles the first calls left behind";
}

// A device's bytes above 0x7F are characters of their own (Latin-1): a unit "°C"
// reaches the host as "°C" in the host's code page, where it once read "?C".
TEST(HostText, UnitsBeyondAsciiReachTheHostInItsCodePage) {
  const std::string port = DevicePort(Role::kUnits);
  ASSERT_FALSE(port.empty());
  const std::vector<HostCodePage> pages = HostCodePages();
  for (std::size_t n = 0; n < pages.size(); ++n) {
    const HostCodePage &page = pages[n];
    SCOPED_TRACE(page.name);
    // The code page is read once per load; only a load of its own can take another.
    if (n > 0 && !ReloadInOneProcessBlocker().empty()) break;
    SetLocaleVariable(page.localeVariable);
    VornLibrary lib;
    std::string error;
    ASSERT_TRUE(lib.Load(VORN_LIBRARY_PATH, error)) << error;
    SetVornPorts(port);
    std::int32_t index = -1;
    ASSERT_EQ(lib.FindDevice(&index), 1);
    ASSERT_EQ(lib.Initialise(index), 1);
    auto text = [&](std::uint32_t code, std::int32_t position) {
      char buffer[64] = {};
      CommandRecord r{};
      r.textBuffer = buffer;
      r.textLength = sizeof buffer;
      r.argument = position;
      EXPECT_EQ(lib.DeviceCommand(index, code, &r), 1);
      return std::string(buffer);
    };
    EXPECT_EQ(text(VORN_CMD_CHANNEL_UNIT, 1), page.degreesCelsius);
    EXPECT_EQ(text(VORN_CMD_CHANNEL_UNIT, 2), page.microvolt);
    EXPECT_EQ(text(VORN_CMD_CHANNEL_UNIT, 3), "%");
    const std::string range = text(VORN_CMD_CHANNEL_RANGE, 2);
    EXPECT_EQ(range.substr(range.size() - page.microvolt.size() - 1), page.microvolt + ";") << range;
    EXPECT_EQ(lib.CloseAll(), 1);
    lib.Unload();
    SetVornPorts("");
  }
  SetLocaleVariable("");
}

// Hosts may unload the library and load it again in one process: every round
// starts from an empty table and streams through a receive thread of its own.
TEST(Reload, RoundsOfStreamingInOneProcess) {
  const std::string blocker = ReloadInOneProcessBlocker();
  if (!blocker.empty()) GTEST_SKIP() << blocker;
  const std::string port = DevicePort(Role::kCrc);
  ASSERT_FALSE(port.empty());
  for (int round = 1; round <= 4; ++round) {
    SCOPED_TRACE(round);
    VornLibrary lib;
    std::string error;
    ASSERT_TRUE(lib.Load(VORN_LIBRARY_PATH, error)) << error;
    EXPECT_EQ(lib.IsFailed(0), 1);  // nothing of the previous round is left
    SetVornPorts(port);
    std::int32_t index = -1;
    ASSERT_EQ(lib.FindDevice(&index), 1);
    ASSERT_EQ(index, 0);
    ASSERT_EQ(lib.Initialise(index), 1);
    CommandRecord r{};
    r.argument = 1;
    ASSERT_EQ(lib.DeviceCommand(index, VORN_CMD_ENABLE_CHANNEL, &r), 1);
    r = CommandRecord{};
    ASSERT_EQ(lib.DeviceCommand(index, VORN_CMD_START, &r), 1);
    char line[256];
    for (int n = 0; n < 20; ++n) {
      ASSERT_EQ(lib.ReadLine(index, line, sizeof line, 2000), 1) << "line " << n;
      ASSERT_EQ(std::strncmp(line, "@ ", 2), 0) << line;
    }
    r = CommandRecord{};
    EXPECT_EQ(lib.DeviceCommand(index, VORN_CMD_STOP, &r), 1);
    // Every other round the host leaves it to the unload to close the session.
    if (round % 2) {
      EXPECT_EQ(lib.CloseAll(), 1);
    }
    lib.Unload();
    SetVornPorts("");
  }
}

}  // namespace
}  // namespace vorn_test
