// The Windows DLL under repeated use in one load: find, initialise, stream now
// and then, close, many times over. The process must hold no more kernel handles
// or threads at the end than after the first round, and every line delivered
// must be one the device sent, scaled as announced, in an unbroken run.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/process_probe.h"
#include "driver/test_devices.h"
#include "tools/hostcheck/line_check.h"
#include "tools/hostlib/vorn_library.h"

namespace vorn_test {
namespace {

using vorn_host::VornLibrary;

// A Unix path of the harness seen through Wine's Z: drive.
std::string HostPath(const char *variable) {
  const char *given = std::getenv(variable);
  if (!given || !*given) return {};
  const std::string path = given;
  return path[0] == '/' ? "Z:" + path : path;
}

int Cycles() {
  const char *given = std::getenv("VORN_WINE_SOAK_CYCLES");
  const int n = given ? std::atoi(given) : 0;
  return n > 0 ? n : 60;
}

class WineSoak : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(lib.Load(VORN_LIBRARY_PATH, error)) << error;
    port = DevicePort(Role::kDefault);
    ASSERT_FALSE(port.empty()) << "the harness names no device";
  }
  void TearDown() override {
    lib.CloseAll();
    lib.Unload();
    SetVornPorts("");
  }

  bool Command(std::int32_t index, std::uint32_t code, std::int32_t argument = 0) {
    CommandRecord r{};
    r.argument = argument;
    return lib.DeviceCommand(index, code, &r) == 1;
  }

  // One round; with stream, a short stream whose lines are kept as one window.
  void Round(bool stream) {
    SetVornPorts(port);
    std::int32_t index = -1;
    ASSERT_EQ(lib.FindDevice(&index), 1);
    ASSERT_EQ(lib.Initialise(index), 1);
    if (stream) {
      CommandRecord r{};
      lib.DeviceCommand(index, VORN_CMD_LAST_CHANNEL, &r);
      for (std::int32_t p = 1; p <= r.intResult; ++p) ASSERT_TRUE(Command(index, 42, p));
      ASSERT_TRUE(Command(index, 35, 2000));
      ASSERT_TRUE(Command(index, 37));
      std::vector<std::string> window;
      char line[256];
      const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
      while (std::chrono::steady_clock::now() < end) {
        if (lib.ReadLine(index, line, sizeof line, 200) == 1) window.push_back(std::string(line) + "\n");
      }
      ASSERT_TRUE(Command(index, 38));
      windows.push_back(std::move(window));
      enabled.clear();
      for (std::int32_t p = 1; p <= r.intResult; ++p) enabled.push_back(p);
    }
    ASSERT_EQ(lib.CloseAll(), 1);
  }

  VornLibrary lib;
  std::string port;
  std::vector<std::vector<std::string>> windows;
  std::vector<int> enabled;
};

TEST_F(WineSoak, RepeatedCyclesLeaveNoHandleOrThreadBehindAndEveryLineIsOneTheDeviceSent) {
  const std::string sentLog = HostPath("VORN_TEST_SENT_LOG");
  const std::string describe = HostPath("VORN_TEST_DESCRIBE");
  ASSERT_FALSE(sentLog.empty());
  ASSERT_FALSE(describe.empty());

  // The first round makes what lives as long as the library (the locale, the host strings).
  Round(true);
  const ProcessCounts before = CountProcessResources();
  const int cycles = Cycles();
  for (int i = 0; i < cycles && !HasFatalFailure(); ++i) Round(i % 10 == 0);
  // The system's own helper threads of the last port may still be on their way out.
  ProcessCounts after = CountProcessResources();
  for (int i = 0; i < 30 && (after.threads > before.threads || after.handles > before.handles); ++i) {
    Sleep(100);
    after = CountProcessResources();
  }
  EXPECT_LE(after.handles, before.handles) << "kernel handles after " << cycles << " cycles";
  EXPECT_LE(after.threads, before.threads) << "threads after " << cycles << " cycles";

  std::ifstream describeFile(describe);
  std::stringstream text;
  text << describeFile.rdbuf();
  vorn_soak::DeviceDescription device;
  std::string error;
  ASSERT_TRUE(vorn_soak::ParseDescription(text.str(), device, error)) << error;
  std::size_t offset = 0;
  std::vector<std::string> expected;
  for (const std::string &sent : vorn_soak::ReadSentLog(sentLog, offset)) {
    if (auto e = vorn_soak::ExpectedHostLine(sent, device, enabled)) expected.push_back(std::move(*e));
  }
  ASSERT_FALSE(expected.empty()) << "nothing in the sent log " << sentLog;
  std::size_t checked = 0;
  for (const auto &window : windows) {
    ASSERT_GT(window.size(), 10u) << "a streaming round delivered almost nothing";
    const vorn_soak::MatchResult m = vorn_soak::MatchDelivered(expected, window, true);
    EXPECT_TRUE(m.ok) << m.detail;
    checked += m.matched;
  }
  std::printf("%d cycles; handles %ld -> %ld, threads %ld -> %ld; %zu lines checked in %zu windows\n", cycles,
              before.handles, after.handles, before.threads, after.threads, checked, windows.size());
}

}  // namespace
}  // namespace vorn_test
