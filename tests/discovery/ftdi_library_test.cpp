// The D2XX port lookup over scripted entry points: the order of calls, the
// port-name comparison, and that every converter opened is closed again.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "discovery/ftdi_library.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {

struct Converter {
  std::string serial;  // up to 16 bytes, written without terminator when 16 long
  std::int32_t port;
  bool failInfo = false;
  bool failPort = false;
};

struct FakeD2xx {
  std::vector<Converter> converters;
  std::vector<std::string> calls;
  int openHandles = 0;
};
FakeD2xx fake;

std::intptr_t HandleIndex(d2xx::Handle h) { return reinterpret_cast<std::intptr_t>(h) - 1; }

d2xx::Status VORN_D2XX_CALL FakeOpen(int number, d2xx::Handle *handle) {
  fake.calls.push_back("open" + std::to_string(number));
  if (number < 0 || number >= static_cast<int>(fake.converters.size())) return 2;
  *handle = reinterpret_cast<d2xx::Handle>(static_cast<std::intptr_t>(number + 1));
  ++fake.openHandles;
  return d2xx::kOk;
}

d2xx::Status VORN_D2XX_CALL FakeInfo(d2xx::Handle h, std::uint32_t *, std::uint32_t *, char *serial, char *description,
                                     void *) {
  const Converter &c = fake.converters[HandleIndex(h)];
  fake.calls.push_back("info" + std::to_string(HandleIndex(h)));
  if (c.failInfo) return 4;
  std::memcpy(serial, c.serial.data(), std::min<std::size_t>(c.serial.size() + 1, d2xx::kSerialField));
  std::memset(description, 'D', d2xx::kDescriptionField);
  return d2xx::kOk;
}

d2xx::Status VORN_D2XX_CALL FakePort(d2xx::Handle h, std::int32_t *number) {
  const Converter &c = fake.converters[HandleIndex(h)];
  fake.calls.push_back("port" + std::to_string(HandleIndex(h)));
  if (c.failPort) return 4;
  *number = c.port;
  return d2xx::kOk;
}

d2xx::Status VORN_D2XX_CALL FakeClose(d2xx::Handle h) {
  fake.calls.push_back("close" + std::to_string(HandleIndex(h)));
  --fake.openHandles;
  return d2xx::kOk;
}

class D2xxLookup : public ::testing::Test {
 protected:
  void SetUp() override {
    fake = {};
    lib.module = &fake;  // any non-null value: FreeFtdiModule ignores it here
    lib.FT_Open = FakeOpen;
    lib.FT_GetDeviceInfo = FakeInfo;
    lib.FT_GetComPortNumber = FakePort;
    lib.FT_Close = FakeClose;
  }
  void TearDown() override {
    lib.module = nullptr;
    EXPECT_EQ(fake.openHandles, 0);
  }
  FtdiLibrary lib;
  std::u16string serial = u"untouched";
};

TEST_F(D2xxLookup, NoConverterAttachedFindsNothing) {
  EXPECT_FALSE(lib.FindFtdiSerial(u"COM5", serial));
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"open0"}));
  EXPECT_EQ(serial, u"untouched");
}

TEST_F(D2xxLookup, SecondConverterMatchesAfterTheFirstIsQueriedAndClosed) {
  fake.converters = {{"VSC0000001", 3}, {"VSC0000002", 7}};
  ASSERT_TRUE(lib.FindFtdiSerial(u"com7", serial));
  EXPECT_EQ(serial, u"VSC0000002");
  EXPECT_EQ(fake.calls,
            (std::vector<std::string>{"open0", "info0", "port0", "close0", "open1", "info1", "port1", "close1"}));
}

TEST_F(D2xxLookup, PortNamesCompareWithoutCaseAndWithoutLeadingZeros) {
  fake.converters = {{"A8001111", 5}};
  EXPECT_TRUE(lib.FindFtdiSerial(u"COM5", serial));
  EXPECT_TRUE(lib.FindFtdiSerial(u"cOm5", serial));
  EXPECT_FALSE(lib.FindFtdiSerial(u"COM05", serial));
  EXPECT_FALSE(lib.FindFtdiSerial(u"COM50", serial));
}

TEST_F(D2xxLookup, ConverterWithoutPortMatchesNoRealPortName) {
  fake.converters = {{"VSC0000001", -1}};
  EXPECT_FALSE(lib.FindFtdiSerial(u"COM1", serial));
  EXPECT_FALSE(lib.FindFtdiSerial(u"COM", serial));
  EXPECT_EQ(FoldedComName(-1), u"com");
  EXPECT_EQ(FoldedComName(12), u"com12");
}

TEST_F(D2xxLookup, EmptyPortNameAsksNothing) {
  fake.converters = {{"VSC0000001", 1}};
  EXPECT_FALSE(lib.FindFtdiSerial(u"", serial));
  EXPECT_TRUE(fake.calls.empty());
}

TEST_F(D2xxLookup, SerialFieldFilledToItsEndIsReadAsSixteenCharacters) {
  fake.converters = {{"VSC0123456789ABC", 4}};
  ASSERT_TRUE(lib.FindFtdiSerial(u"COM4", serial));
  EXPECT_EQ(serial, u"VSC0123456789ABC");
}

TEST_F(D2xxLookup, FailingInfoOrPortQueryClosesTheConverterItOpened) {
  fake.converters = {{"VSC1", 1, true}};
  EXPECT_FALSE(lib.FindFtdiSerial(u"COM1", serial));
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"open0", "info0", "close0"}));
  EXPECT_EQ(fake.openHandles, 0);

  fake = {};
  fake.converters = {{"VSC1", 2}, {"VSC2", 1, false, true}, {"VSC3", 1}};
  EXPECT_FALSE(lib.FindFtdiSerial(u"COM1", serial));
  EXPECT_EQ(fake.calls.back(), "close1");
  EXPECT_EQ(fake.openHandles, 0);
}

TEST_F(D2xxLookup, UnusableRecordCallsNothing) {
  fake.converters = {{"VSC1", 1}};
  lib.FT_GetComPortNumber = nullptr;
  EXPECT_FALSE(lib.Usable());
  EXPECT_FALSE(lib.FindFtdiSerial(u"COM1", serial));
  lib.FT_GetComPortNumber = FakePort;
  lib.notInstalled = true;
  EXPECT_FALSE(lib.FindFtdiSerial(u"COM1", serial));
  EXPECT_TRUE(fake.calls.empty());
}

}  // namespace
}  // namespace vorn_test
