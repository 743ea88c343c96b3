// The speed and host-read exports forward to a session's port and ring.
#include <gtest/gtest.h>

#include <cstring>

#include "driver/device_table.h"
#include "serial_fixture.h"
#include "vorn.h"

namespace vorn_test {
namespace {

using vorn_test::Eventually;

class SessionExports : public vorn_test::SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(Start());
    raw = session.get();
    index = OpenPlotr::deviceTable().Append(std::move(session));
  }
  void TearDown() override { OpenPlotr::deviceTable().DestroyAll(); }

  std::int32_t LineRate() {
    vorn_test::LineSettings line;
    return peer->Line(line) ? line.rate : -1;
  }

  OpenPlotr::VornSerial *raw = nullptr;
  std::int32_t index = -1;
};

TEST_F(SessionExports, SpeedExportsReachThePort) {
  EXPECT_EQ(GetBaudRate(index), 115200);
  EXPECT_EQ(SetBaudRate(index, 38400), 1);
  EXPECT_EQ(LineRate(), 38400);
  EXPECT_EQ(GetBaudRate(index), 38400);
  EXPECT_EQ(SetBaudRate(index, 0), 1);
  EXPECT_EQ(GetBaudRate(index), 0);
  EXPECT_EQ(CanUseBaudRate(index, 9600), 1);
  EXPECT_EQ(LineRate(), 38400);
  EXPECT_EQ(GetBaudRate(index), 0);
}

TEST_F(SessionExports, HostReadExportsTakeFromTheSessionRing) {
  ASSERT_TRUE(peer->Send("@ 1,2\n0123456789"));
  ASSERT_TRUE(Eventually([&] { return ReadBuffSize(index) == 16; }));
  char line[32] = {};
  // No room: the line is reported, nothing is taken or written.
  EXPECT_EQ(ReadLine(index, line, 0, 1000), 1);
  EXPECT_EQ(ReadBuffSize(index), 16);
  EXPECT_EQ(line[0], '\0');
  EXPECT_EQ(ReadLine(index, line, sizeof line, 1000), 1);
  EXPECT_STREQ(line, "@ 1,2");
  EXPECT_EQ(ReadBuffSize(index), 10);
  char block[32] = {};
  EXPECT_EQ(ReadBuffer(index, block, 4, 1000), 1);
  EXPECT_EQ(std::string(block), "0123");
  FlushReadBuffer(index);
  EXPECT_EQ(ReadBuffSize(index), 0);
  EXPECT_EQ(ReadBuffer(index, block, 4, 0), 0);
}

TEST_F(SessionExports, MissingSessionsGiveTheFixedResults) {
  char buffer[8] = {'z'};
  EXPECT_EQ(GetBaudRate(index + 1), 0);
  EXPECT_EQ(SetBaudRate(-1, 9600), 0);
  EXPECT_EQ(CanUseBaudRate(index + 1, 9600), 0);
  EXPECT_EQ(ReadLine(index + 1, buffer, 8, 0), 0);
  EXPECT_EQ(ReadBuffer(-1, buffer, 8, 0), 0);
  EXPECT_EQ(ReadBuffSize(index + 1), 0);
  FlushReadBuffer(-1);
  EXPECT_EQ(buffer[0], 'z');
}

}  // namespace
}  // namespace vorn_test
