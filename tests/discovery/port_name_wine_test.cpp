// The "PortName" registry value of a device, however it was stored.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "discovery/system_ports.h"
#include "wine_fakes.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {

const std::wstring kDevice = L"FTDIBUS\\VID_0403+PID_6001+\\VORNTEST";
const std::u16string kDeviceId = u"FTDIBUS\\VID_0403+PID_6001+\\VORNTEST";

class PortNameValue : public ::testing::Test {
 protected:
  void TearDown() override { vorn_test::DeleteDeviceKey(kDevice); }
  std::u16string Read(bool expected = true) {
    std::u16string name = u"stale";
    EXPECT_EQ(SystemPorts().ReadPortName(kDeviceId, name), expected);
    return name;
  }
};

TEST_F(PortNameValue, TerminatedStringGivesItsText) {
  ASSERT_TRUE(vorn_test::WritePortName(kDevice, L"COM9", 10));
  EXPECT_EQ(Read(), u"COM9");
}

TEST_F(PortNameValue, ValueWithoutTerminatorIsTakenToItsSize) {
  ASSERT_TRUE(vorn_test::WritePortName(kDevice, L"COM12", 10));
  EXPECT_EQ(Read(), u"COM12");
  ASSERT_TRUE(vorn_test::WritePortName(kDevice, L"COM12", 8, REG_BINARY));
  EXPECT_EQ(Read(), u"COM1");
}

TEST_F(PortNameValue, OddByteCountDropsTheHalfCharacter) {
  const wchar_t data[] = L"COM7X";
  ASSERT_TRUE(vorn_test::WritePortName(kDevice, data, 9, REG_BINARY));
  EXPECT_EQ(Read(), u"COM7");
}

TEST_F(PortNameValue, MissingKeyOrValueGivesEmptyAndFalse) {
  EXPECT_EQ(Read(false), u"");
  ASSERT_TRUE(vorn_test::WritePortName(kDevice, L"COM9", 10));
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                          (L"System\\CurrentControlSet\\Enum\\" + kDevice + L"\\Device Parameters").c_str(), 0,
                          KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  RegDeleteValueW(key, L"PortName");
  RegCloseKey(key);
  EXPECT_EQ(Read(false), u"");
}

// The handle a fresh key gets: handle slots are reused, so a key left open
// on any path moves the next one further up.
std::uintptr_t NextKeyHandle() {
  HKEY key = nullptr;
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System", 0, KEY_READ, &key);
  RegCloseKey(key);
  return reinterpret_cast<std::uintptr_t>(key);
}

TEST_F(PortNameValue, KeyIsClosedOnEveryPath) {
  ASSERT_TRUE(vorn_test::WritePortName(kDevice, L"COM9", 10));
  std::u16string name;
  SystemPorts().ReadPortName(kDeviceId, name);
  const std::uintptr_t before = NextKeyHandle();
  ASSERT_NE(before, 0u);
  for (int i = 0; i < 20; ++i) {
    SystemPorts().ReadPortName(kDeviceId, name);
    SystemPorts().ReadPortName(u"FTDIBUS\\NO\\SUCH", name);
  }
  EXPECT_EQ(NextKeyHandle(), before);
  // A key without the value, and one whose value is too large to be a port name.
  vorn_test::DeleteDeviceKey(kDevice);
  ASSERT_TRUE(vorn_test::WritePortName(kDevice, L"", 0, REG_NONE));
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                          (L"System\\CurrentControlSet\\Enum\\" + kDevice + L"\\Device Parameters").c_str(), 0,
                          KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  RegDeleteValueW(key, L"PortName");
  RegCloseKey(key);
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(SystemPorts().ReadPortName(kDeviceId, name));
  const std::vector<wchar_t> huge(5000, L'7');
  ASSERT_TRUE(vorn_test::WritePortName(kDevice, huge.data(), static_cast<DWORD>(huge.size() * 2)));
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(SystemPorts().ReadPortName(kDeviceId, name));
  EXPECT_EQ(NextKeyHandle(), before);
}

}  // namespace
}  // namespace vorn_test
