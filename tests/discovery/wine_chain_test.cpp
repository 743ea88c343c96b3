// From the Windows discovery path to running sessions: the stand-in Setup API
// lists COM ports that are vorn-sim pseudo-terminals (the harness links them
// into this prefix), one found by its instance identifier, one through its
// PortName and the stand-in ftd2xx.dll; each is initialised and closed again.
#include <gtest/gtest.h>

#include <string>

#include "tools/hostlib/vorn_library.h"
#include "wine_fakes.h"

namespace vorn_test {
namespace {

using vorn_host::VornLibrary;

const std::wstring kBlankDevice = L"FTDIBUS\\VID_0403+PID_6001+\\0062";

bool PortOpens(const wchar_t *path) {
  HANDLE port = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) return false;
  CloseHandle(port);
  return true;
}

class DiscoveredChain : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PortOpens(L"\\\\.\\COM61") || !PortOpens(L"\\\\.\\COM62")) {
      GTEST_SKIP() << "no simulated devices behind COM61 and COM62 (vorn-sim of the Linux build missing?)";
    }
    ResetFakeCounters();
    ScriptSetupApi(
        "device|FTDIBUS\\VID_0403+PID_6001+VSC0012345\\0000|\\\\.\\COM61|USB Serial Port (COM61)|FTDI\n"
        "device|FTDIBUS\\VID_0403+PID_6001+\\0062|\\\\.\\COM62|USB Serial Port (COM62)|FTDI\n");
    ScriptFtd2xx("converter|A8009876543|62\n");
    ASSERT_TRUE(WritePortName(kBlankDevice, L"COM62", 12));
    ASSERT_TRUE(InstallFtd2xx(Ftd2xx::Full));
    std::string error;
    ASSERT_TRUE(lib.Load(VORN_LIBRARY_PATH, error)) << error;
  }
  void TearDown() override {
    if (lib.handle) {
      lib.CloseAll();
      lib.Unload();
    }
    DeleteDeviceKey(kBlankDevice);
    InstallFtd2xx(Ftd2xx::Absent);
  }
  VornLibrary lib;
};

TEST_F(DiscoveredChain, FoundDevicesInitialiseAndCloseAll) {
  std::int32_t index = -1;
  ASSERT_EQ(lib.FindDevice(&index), 1);
  ASSERT_EQ(index, 0);
  ASSERT_EQ(lib.FindDevice(&index), 1);
  ASSERT_EQ(index, 1);
  std::int32_t id = 0;
  ASSERT_EQ(lib.GetUniqueID(0, &id), 1);
  EXPECT_EQ(id, 1851);  // remainder 0012345, part 123
  ASSERT_EQ(lib.GetUniqueID(1, &id), 1);
  EXPECT_EQ(id, 605309);  // remainder 09876543, part 8765

  EXPECT_EQ(lib.Initialise(0), 1);
  EXPECT_EQ(lib.IsFailed(0), 0);
  EXPECT_EQ(lib.Initialise(1), 1);
  EXPECT_EQ(lib.IsFailed(1), 0);
  EXPECT_EQ(lib.GetLastErrorMsg(-1, nullptr), 50);

  EXPECT_EQ(lib.CloseAll(), 1);
  EXPECT_EQ(lib.IsFailed(0), 1);
  EXPECT_EQ(FakeCounter("VORN_FAKE_SETUPAPI_LISTS_OPEN"), 0);
  EXPECT_FALSE(ModuleLoaded(L"ftd2xx.dll"));
  // Closed ports can be opened again by anyone.
  EXPECT_TRUE(PortOpens(L"\\\\.\\COM61"));
  EXPECT_TRUE(PortOpens(L"\\\\.\\COM62"));
}

}  // namespace
}  // namespace vorn_test
