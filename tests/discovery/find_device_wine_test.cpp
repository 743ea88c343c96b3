// FindDevice, GetUniqueID and the general message through the Windows DLL's
// exports, with the stand-in Setup API, registry values and ftd2xx.dll variants.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/process_probe.h"
#include "tools/hostlib/vorn_library.h"
#include "wine_fakes.h"

namespace vorn_test {
namespace {

using vorn_host::VornLibrary;

// A Vorn device named by its instance identifier, a foreign converter, a
// Vorn device whose identifier holds no serial (registry and D2XX decide),
// and one in small letters.
constexpr char kPorts[] =
    "device|FTDIBUS\\VID_0403+PID_6001+VSC1234567\\0000|\\\\.\\COM5|USB Serial Port (COM5)|FTDI\n"
    "device|USB\\VID_067B+PID_2303+OTHER0001\\0000|\\\\.\\COM6|Prolific|Prolific\n"
    "device|FTDIBUS\\VID_0403+PID_6001+\\0000|\\\\.\\COM8|USB Serial Port (COM8)|FTDI\n"
    "device|FTDIBUS\\VID_0403+PID_6001+vsc7654321\\0000|\\\\.\\COM9|USB Serial Port (COM9)|FTDI\n";
const std::wstring kBlankDevice = L"FTDIBUS\\VID_0403+PID_6001+\\0000";

class FindDeviceUnderWine : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFakeCounters();
    ScriptSetupApi(kPorts);
    ScriptFtd2xx("converter|FT000001|3\nconverter|A8001234|8\n");
    ASSERT_TRUE(WritePortName(kBlankDevice, L"COM8", 10));
  }
  void TearDown() override {
    if (lib.handle) {
      lib.CloseAll();
      lib.Unload();
    }
    DeleteDeviceKey(kBlankDevice);
    EXPECT_FALSE(ModuleLoaded(L"SETUPAPI.DLL"));
    EXPECT_FALSE(ModuleLoaded(L"ftd2xx.dll"));
    EXPECT_EQ(FakeCounter("VORN_FAKE_SETUPAPI_ATTACHED"), FakeCounter("VORN_FAKE_SETUPAPI_DETACHED"));
    EXPECT_EQ(FakeCounter("VORN_FAKE_FTD2XX_ATTACHED"), FakeCounter("VORN_FAKE_FTD2XX_DETACHED"));
    EXPECT_EQ(FakeCounter("VORN_FAKE_SETUPAPI_LISTS_OPEN"), 0);
    EXPECT_EQ(FakeCounter("VORN_FAKE_FTD2XX_OPEN"), 0);
    EXPECT_TRUE(InstallFtd2xx(Ftd2xx::Absent));
  }
  void Load(Ftd2xx variant) {
    ASSERT_TRUE(InstallFtd2xx(variant));
    std::string error;
    ASSERT_TRUE(lib.Load(VORN_LIBRARY_PATH, error)) << error;
  }
  std::int32_t Find() {
    std::int32_t index = -77;
    return lib.FindDevice(&index) ? index : -77;
  }
  std::int32_t IdOf(std::int32_t index) {
    std::int32_t id = -99;
    EXPECT_EQ(lib.GetUniqueID(index, &id), 1);
    return id;
  }
  void ExpectNothingFound() {
    std::int32_t index = 42;
    EXPECT_EQ(lib.FindDevice(&index), 0);
    EXPECT_EQ(index, 42);
  }
  VornLibrary lib;
};

TEST_F(FindDeviceUnderWine, TwoDevicesInOrderThenNoneThenTheFirstAgain) {
  Load(Ftd2xx::Full);
  ASSERT_EQ(Find(), 0);
  EXPECT_EQ(IdOf(0), 5465);
  // COM8's identifier holds no serial: its PortName leads to converter 1.
  ASSERT_EQ(Find(), 1);
  EXPECT_EQ(IdOf(1), 2);
  ExpectNothingFound();
  EXPECT_FALSE(ModuleLoaded(L"ftd2xx.dll"));  // the state went with the end of the list
  EXPECT_EQ(lib.GetLastErrorMsg(-1, nullptr), 50);
  ASSERT_EQ(Find(), 2);
  EXPECT_EQ(IdOf(2), 5465);
}

TEST_F(FindDeviceUnderWine, AbsentLibraryIsNotInstalledAndStaysSo) {
  Load(Ftd2xx::Absent);
  ExpectNothingFound();
  EXPECT_EQ(FakeCounter("VORN_FAKE_SETUPAPI_LISTS_OPEN"), 0);  // no device was listed
  EXPECT_EQ(lib.GetLastErrorMsg(-1, nullptr), 185);
  char text[185];
  ASSERT_EQ(lib.GetLastErrorMsg(-1, text), 185);
  EXPECT_EQ(std::string(text).rfind("The Vorn Device driver is not installed.\n", 0), 0u);
  // Installing it now changes nothing until CloseAll discards the record.
  ASSERT_TRUE(InstallFtd2xx(Ftd2xx::Full));
  ExpectNothingFound();
  EXPECT_EQ(lib.GetLastErrorMsg(-1, nullptr), 185);
  EXPECT_EQ(lib.CloseAll(), 1);
  EXPECT_EQ(lib.GetLastErrorMsg(-1, nullptr), 87);
  EXPECT_EQ(Find(), 0);
}

TEST_F(FindDeviceUnderWine, LibraryThatRefusesToLoadIsNotInstalled) {
  Load(Ftd2xx::RefusesLoad);
  ExpectNothingFound();
  EXPECT_EQ(lib.GetLastErrorMsg(-1, nullptr), 185);
}

TEST_F(FindDeviceUnderWine, LibraryWithoutAnEntryPointCannotBeLoaded) {
  Load(Ftd2xx::WithoutPortNumber);
  ExpectNothingFound();
  EXPECT_EQ(lib.GetLastErrorMsg(-1, nullptr), 41);
  char text[41];
  ASSERT_EQ(lib.GetLastErrorMsg(-1, text), 41);
  EXPECT_STREQ(text, "The Vorn Device driver cannot be loaded.");
  ExpectNothingFound();
  EXPECT_EQ(lib.GetLastErrorMsg(-1, nullptr), 41);
}

TEST_F(FindDeviceUnderWine, LibraryPresentWithoutDevicesCannotFindTheDevice) {
  ScriptSetupApi("");
  Load(Ftd2xx::Full);
  ExpectNothingFound();
  EXPECT_EQ(lib.GetLastErrorMsg(-1, nullptr), 87);
  EXPECT_FALSE(ModuleLoaded(L"ftd2xx.dll"));
  EXPECT_EQ(FakeCounter("VORN_FAKE_FTD2XX_ATTACHED"), 1);
}

TEST_F(FindDeviceUnderWine, OnlyForeignConvertersCannotFindTheDevice) {
  ScriptSetupApi("device|USB\\VID_067B+PID_2303+OTHER0001\\0000|\\\\.\\COM6||\n");
  Load(Ftd2xx::Full);
  ExpectNothingFound();
  EXPECT_EQ(lib.GetLastErrorMsg(-1, nullptr), 87);
}

TEST_F(FindDeviceUnderWine, UnloadWithTheListOpenClosesItBeforeTheSetupApiGoes) {
  Load(Ftd2xx::Full);
  ASSERT_EQ(Find(), 0);
  EXPECT_EQ(FakeCounter("VORN_FAKE_SETUPAPI_LISTS_OPEN"), 1);
  EXPECT_TRUE(ModuleLoaded(L"ftd2xx.dll"));
  lib.Unload();  // TearDown checks that both libraries went and the list was destroyed
}

TEST(FindDeviceLifetimeUnderWine, LoadSearchAndUnloadLeaveNoThreadHandleOrLibrary) {
  ResetFakeCounters();
  ScriptSetupApi(kPorts);
  ScriptFtd2xx("converter|A8001234|8\n");
  ASSERT_TRUE(InstallFtd2xx(Ftd2xx::Full));
  auto cycle = [] {
    VornLibrary lib;
    std::string error;
    ASSERT_TRUE(lib.Load(VORN_LIBRARY_PATH, error)) << error;
    std::int32_t index = 0;
    while (lib.FindDevice(&index)) {
    }
    lib.Unload();
  };
  cycle();  // one-time costs of the loader are not counted
  const ProcessCounts before = CountProcessResources();
  for (int i = 0; i < 3; ++i) cycle();
  const ProcessCounts after = CountProcessResources();
  EXPECT_EQ(after.threads, before.threads);
  // A one-time initialisation on the load or unload path (the unload closes the
  // sessions found) would leave the statically linked threading runtime's record of
  // this thread (two handles) behind at every unload.
  EXPECT_LE(after.handles, before.handles) << "handles left behind by the load, the search and the unload";
  EXPECT_EQ(FakeCounter("VORN_FAKE_SETUPAPI_ATTACHED"), 4);
  EXPECT_EQ(FakeCounter("VORN_FAKE_SETUPAPI_DETACHED"), 4);
  EXPECT_EQ(FakeCounter("VORN_FAKE_FTD2XX_ATTACHED"), FakeCounter("VORN_FAKE_FTD2XX_DETACHED"));
  EXPECT_EQ(FakeCounter("VORN_FAKE_SETUPAPI_LISTS_OPEN"), 0);
  EXPECT_FALSE(ModuleLoaded(L"ftd2xx.dll"));
  EXPECT_TRUE(InstallFtd2xx(Ftd2xx::Absent));
}

}  // namespace
}  // namespace vorn_test
