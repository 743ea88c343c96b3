// FindDevice and GetUniqueID through the exports, with VORN_PORTS naming the
// ports; run against the native library and, under Wine, the Windows DLL.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "discovery_test_env.h"
#include "tools/hostlib/vorn_library.h"

namespace vorn_test {
namespace {

using vorn_host::VornLibrary;

class FindDeviceThroughPortList : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(lib.Load(VORN_LIBRARY_PATH, error)) << error;
  }
  void TearDown() override {
    if (lib.CloseAll) lib.CloseAll();
    lib.Unload();
    UnsetEnv("VORN_PORTS");
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
  VornLibrary lib;
};

TEST_F(FindDeviceThroughPortList, TwoDevicesInOrderThenNoneThenTheFirstAgain) {
  SetEnv("VORN_PORTS", "VSC1234567=/dev/null;OTHER99=/dev/null;A8001234=/dev/zero");
  ASSERT_EQ(Find(), 0);
  EXPECT_EQ(IdOf(0), 5465);
  ASSERT_EQ(Find(), 1);
  EXPECT_EQ(IdOf(1), 2);

  std::int32_t index = 42;
  EXPECT_EQ(lib.FindDevice(&index), 0);
  EXPECT_EQ(index, 42);
  // The list started afresh: the first port is found again, as a new session.
  ASSERT_EQ(Find(), 2);
  EXPECT_EQ(IdOf(2), 5465);
}

TEST_F(FindDeviceThroughPortList, InstanceIdentifierEntryIsCutLikeTheSystemsOwn) {
  SetEnv("VORN_PORTS", "FTDIBUS\\VID_0403+PID_6001+VSC00042A\\0000=/dev/null");
  ASSERT_EQ(Find(), 0);
  EXPECT_EQ(IdOf(0), 4);
}

TEST_F(FindDeviceThroughPortList, SmallLettersAndEntriesWithoutEqualsAreNotDevices) {
  SetEnv("VORN_PORTS", "vsc1234567=/dev/null;VSC1234567");
  std::int32_t index = 42;
  EXPECT_EQ(lib.FindDevice(&index), 0);
  EXPECT_EQ(index, 42);
  // Not the plain 87-byte "cannot be found": the general message names VORN_PORTS.
  EXPECT_GT(lib.GetLastErrorMsg(-1, nullptr), 87);
}

TEST_F(FindDeviceThroughPortList, CloseAllHandsOutIndexZeroAgain) {
  SetEnv("VORN_PORTS", "VSC1234567=/dev/null;VSC7654321=/dev/null");
  ASSERT_EQ(Find(), 0);
  EXPECT_EQ(lib.CloseAll(), 1);
  std::int32_t id = 5;
  EXPECT_EQ(lib.GetUniqueID(0, &id), 0);
  EXPECT_EQ(id, 5);
  ASSERT_EQ(Find(), 0);
  EXPECT_EQ(IdOf(0), 5465);
}

TEST_F(FindDeviceThroughPortList, FoundDeviceTurnsTheGeneralMessageToTheDevice) {
  SetEnv("VORN_PORTS", "VSC1234567=/dev/null");
  ASSERT_EQ(Find(), 0);
  // A found but uninitialised device is neither on wrong firmware nor silent.
  EXPECT_EQ(lib.GetLastErrorMsg(-1, nullptr), 50);
}

}  // namespace
}  // namespace vorn_test
