#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/port_commands.h"
#include "serial/com_port.h"
#include "serial/event_thread.h"
#include "serial/transmit.h"
#include "serial_fixture.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {

class Transmit : public vorn_test::PeerTest {
 protected:
  void SetUp() override {
    PeerTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(port.Open(peer->PortName().c_str(), 115200), QVX::kStatusOk);
  }
  std::string Got(std::size_t count) { return peer->Receive(count, 2000); }

  COMPort port;
};

TEST_F(Transmit, SingleLetterCommandsAreColonLetterLineFeed) {
  for (const char letter : {'S', 'V', 'F', 'I', 'B', 'X'}) {
    ASSERT_TRUE(SendCommand(port, letter));
    EXPECT_EQ(Got(3), std::string({':', letter, '\n'}));
  }
}

TEST_F(Transmit, PeriodEntryIsSentInPlainDecimal) {
  ASSERT_TRUE(SendPeriodEntry(port, 7));
  EXPECT_EQ(Got(4), ":P7\n");
  ASSERT_TRUE(SendPeriodEntry(port, 12));
  EXPECT_EQ(Got(5), ":P12\n");
  ASSERT_TRUE(SendPeriodEntry(port, 0));
  EXPECT_EQ(Got(4), ":P0\n");
  EXPECT_FALSE(SendPeriodEntry(port, -1));
}

TEST_F(Transmit, FieldMaskEndsWithACarriageReturnOnly) {
  SendFieldMask(port, {true, false, true});
  EXPECT_EQ(Got(6), ":U101\r");
  SendFieldMask(port, {});
  EXPECT_EQ(Got(3), ":U\r");
}

TEST_F(Transmit, FieldMaskOfMoreThan28FieldsSendsEveryDigit) {
  std::vector<bool> mask(40, true);
  mask[29] = false;
  SendFieldMask(port, mask);
  std::string expected = ":U" + std::string(29, '1') + "0" + std::string(10, '1') + "\r";
  EXPECT_EQ(Got(expected.size() + 1), expected);
}

TEST_F(Transmit, CommandsOnAClosedPortFailAfterTheWriteBound) {
  port.Close();
  const std::uint64_t started = MonotonicMs();
  EXPECT_FALSE(SendCommand(port, 'S'));
  EXPECT_FALSE(SendPeriodEntry(port, 3));
  EXPECT_GE(MonotonicMs() - started, 2 * kWriteBoundMs - 2);
  EXPECT_EQ(Got(1), "");
}

TEST_F(Transmit, WriteThatCannotGoOutGivesUpWithinItsBound) {
  // Nobody reads the device end: the pty's buffers fill and the write must not block.
  const std::string block(4096, 'w');
  bool gaveUp = false;
  for (int i = 0; i < 64 && !gaveUp; ++i)
    gaveUp = !WritePort(port, block.data(), static_cast<std::int32_t>(block.size()));
  EXPECT_TRUE(gaveUp);
  peer->Drain();
}

}  // namespace
}  // namespace vorn_test
