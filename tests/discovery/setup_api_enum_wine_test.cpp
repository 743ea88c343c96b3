// The Setup API loader and the Windows enumerator against the stand-in
// SETUPAPI.DLL beside this program.
#include <gtest/gtest.h>

#include "discovery/discovery.h"
#include "discovery/system_ports.h"
#include "discovery/setup_api.h"
#include "wine_fakes.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {

using vorn_test::FakeCounter;

class SetupApiEnumeration : public ::testing::Test {
 protected:
  void SetUp() override {
    vorn_test::ResetFakeCounters();
    PrepareSystemPorts();
    ASSERT_TRUE(SetupApiUsable()) << "the stand-in SETUPAPI.DLL was not loaded";
  }
  void TearDown() override {
    ReleaseSystemPorts();
    EXPECT_FALSE(vorn_test::ModuleLoaded(L"SETUPAPI.DLL"));
    EXPECT_EQ(FakeCounter("VORN_FAKE_SETUPAPI_ATTACHED"), FakeCounter("VORN_FAKE_SETUPAPI_DETACHED"));
    EXPECT_EQ(FakeCounter("VORN_FAKE_SETUPAPI_LISTS_OPEN"), 0);
  }
};

constexpr char kTwoPorts[] =
    "device|FTDIBUS\\VID_0403+PID_6001+VSC00042A\\0000|\\\\.\\COM5|USB Serial Port (COM5)|FTDI\n"
    "device|ACPI\\PNP0501\\1|\\\\?\\acpi#pnp0501#1#{86e0d1e0-8089-11d0-9ce4-08003e301f73}||(Standard port types)\n";

TEST_F(SetupApiEnumeration, TwoDevicesInOrderThenTheEndClosesTheList) {
  vorn_test::ScriptSetupApi(kTwoPorts);
  auto devices = SystemPorts().MakeEnumerator();
  EXPECT_EQ(FakeCounter("VORN_FAKE_SETUPAPI_LISTS_OPEN"), 1);
  ASSERT_TRUE(devices->Next());
  EXPECT_EQ(devices->CurrentIndex(), 0);
  EXPECT_EQ(devices->GetInstanceId(), u"FTDIBUS\\VID_0403+PID_6001+VSC00042A\\0000");
  std::u16string path;
  devices->GetDevicePath(path);
  EXPECT_EQ(path, u"\\\\.\\COM5");
  EXPECT_EQ(devices->GetFriendlyName(), u"USB Serial Port (COM5)");
  EXPECT_EQ(devices->GetManufacturer(), u"FTDI");

  ASSERT_TRUE(devices->Next());
  EXPECT_EQ(devices->CurrentIndex(), 1);
  EXPECT_EQ(devices->GetInstanceId(), u"ACPI\\PNP0501\\1");
  // No friendly name: the previous device's stays.
  EXPECT_EQ(devices->GetFriendlyName(), u"USB Serial Port (COM5)");
  EXPECT_EQ(devices->GetManufacturer(), u"(Standard port types)");

  EXPECT_FALSE(devices->Next());
  EXPECT_EQ(FakeCounter("VORN_FAKE_SETUPAPI_LISTS_OPEN"), 0);
  const long enumCalls = FakeCounter("VORN_FAKE_SETUPAPI_ENUM_CALLS");
  EXPECT_FALSE(devices->Next());
  EXPECT_EQ(FakeCounter("VORN_FAKE_SETUPAPI_ENUM_CALLS"), enumCalls);
}

TEST_F(SetupApiEnumeration, NoComPortEndsAtOnceAndClosesTheList) {
  vorn_test::ScriptSetupApi("");
  auto devices = SystemPorts().MakeEnumerator();
  EXPECT_FALSE(devices->Next());
  EXPECT_EQ(FakeCounter("VORN_FAKE_SETUPAPI_LISTS_OPEN"), 0);
}

TEST_F(SetupApiEnumeration, DestroyingTheEnumeratorMidListClosesTheList) {
  vorn_test::ScriptSetupApi(kTwoPorts);
  {
    auto devices = SystemPorts().MakeEnumerator();
    ASSERT_TRUE(devices->Next());
  }
  EXPECT_EQ(FakeCounter("VORN_FAKE_SETUPAPI_LISTS_OPEN"), 0);
}

TEST_F(SetupApiEnumeration, ListThatCannotBeMadeIsEmpty) {
  vorn_test::ScriptSetupApi("list-fails\n");
  auto devices = SystemPorts().MakeEnumerator();
  EXPECT_FALSE(devices->Next());
}

TEST_F(SetupApiEnumeration, TextsWithoutTerminatorAreTakenToTheirReportedSizes) {
  vorn_test::ScriptSetupApi(std::string("unterminated\n") + kTwoPorts);
  auto devices = SystemPorts().MakeEnumerator();
  ASSERT_TRUE(devices->Next());
  EXPECT_EQ(devices->GetInstanceId(), u"FTDIBUS\\VID_0403+PID_6001+VSC00042A\\0000");
  std::u16string path;
  devices->GetDevicePath(path);
  EXPECT_EQ(path, u"\\\\.\\COM5");
  EXPECT_EQ(devices->GetFriendlyName(), u"USB Serial Port (COM5)");
  EXPECT_EQ(devices->GetManufacturer(), u"FTDI");
}

TEST_F(SetupApiEnumeration, UntrustworthySizeQueryEndsTheListCleanly) {
  // Smaller than the fixed part, a success, another error, and an absurd size.
  for (const char *fault :
       {"detail-size|1|3\n", "detail-size-succeeds|1\n", "detail-error|1|87\n", "detail-size|1|4000000000\n"}) {
    SCOPED_TRACE(fault);
    vorn_test::ScriptSetupApi(std::string(fault) + kTwoPorts);
    auto devices = SystemPorts().MakeEnumerator();
    EXPECT_TRUE(devices->Next());
    EXPECT_FALSE(devices->Next());
    EXPECT_EQ(devices->CurrentIndex(), -1);
    EXPECT_EQ(FakeCounter("VORN_FAKE_SETUPAPI_LISTS_OPEN"), 0);
  }
}

TEST(SetupApiLoader, LoadsOnceFreesAtTheLastUnloadAndUnusableAfterwards) {
  vorn_test::ResetFakeCounters();
  PrepareSystemPorts();
  PrepareSystemPorts();
  EXPECT_EQ(FakeCounter("VORN_FAKE_SETUPAPI_ATTACHED"), 1);
  ReleaseSystemPorts();
  EXPECT_TRUE(SetupApiUsable());
  ReleaseSystemPorts();
  EXPECT_FALSE(SetupApiUsable());
  EXPECT_FALSE(vorn_test::ModuleLoaded(L"SETUPAPI.DLL"));
  EXPECT_EQ(FakeCounter("VORN_FAKE_SETUPAPI_DETACHED"), 1);
  ReleaseSystemPorts();  // one too many does nothing

  // Without the Setup API the enumerator is an empty list.
  vorn_test::ScriptSetupApi(kTwoPorts);
  auto devices = SystemPorts().MakeEnumerator();
  EXPECT_FALSE(devices->Next());
  EXPECT_EQ(FakeCounter("VORN_FAKE_SETUPAPI_ATTACHED"), 1);
}

}  // namespace
}  // namespace vorn_test
