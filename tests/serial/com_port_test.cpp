#include <gtest/gtest.h>

#include "serial/com_port.h"
#include "serial_fixture.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {

class ComPort : public vorn_test::PeerTest {
 protected:
  std::int32_t LineRate() {
    vorn_test::LineSettings line;
    return peer->Line(line) ? line.rate : -1;
  }
  COMPort port;
};

TEST_F(ComPort, NewPortIsClosedAndHasNoRate) {
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.GetBaudRate(), 0);
}

TEST_F(ComPort, OpenSetsRaw8N1WithoutFlowControlAtTheRate) {
  ASSERT_EQ(port.Open(peer->PortName().c_str(), 115200), QVX::kStatusOk);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.GetBaudRate(), 115200);
  vorn_test::LineSettings line;
  ASSERT_TRUE(peer->Line(line));
  EXPECT_EQ(line.rate, 115200);
  EXPECT_TRUE(line.eightBits);
  EXPECT_FALSE(line.parity);
  EXPECT_FALSE(line.twoStopBits);
  EXPECT_FALSE(line.hardwareFlow);
  EXPECT_TRUE(line.raw);
}

TEST_F(ComPort, OpenOnANameThatCannotBeOpenedFails) {
  EXPECT_EQ(port.Open(vorn_test::MissingPortName().c_str(), 115200), QVX::kStatusFail);
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(ComPort, SecondOpenOfAHeldPortFails) {
  if (!vorn_test::ExclusiveOpenIsEnforced()) GTEST_SKIP() << "this platform does not enforce exclusive port opens";
  ASSERT_EQ(port.Open(peer->PortName().c_str(), 115200), QVX::kStatusOk);
  COMPort other;
  EXPECT_EQ(other.Open(peer->PortName().c_str(), 115200), QVX::kStatusFail);
  EXPECT_FALSE(other.IsOpen());
}

TEST_F(ComPort, CloseTwiceIsHarmless) {
  ASSERT_EQ(port.Open(peer->PortName().c_str(), 115200), QVX::kStatusOk);
  port.Close();
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Open(peer->PortName().c_str(), 9600), QVX::kStatusOk);
}

TEST_F(ComPort, SetBaudRateChangesTheLineAndZeroKeepsIt) {
  ASSERT_EQ(port.Open(peer->PortName().c_str(), 115200), QVX::kStatusOk);
  ASSERT_TRUE(port.SetBaudRate(57600));
  EXPECT_EQ(LineRate(), 57600);
  EXPECT_EQ(port.GetBaudRate(), 57600);
  ASSERT_TRUE(port.SetBaudRate(0));
  EXPECT_EQ(LineRate(), 57600);
  EXPECT_EQ(port.GetBaudRate(), 0);
}

TEST_F(ComPort, ProbeLeavesTheLineAndTheRecordedRateAsTheyWere) {
  ASSERT_EQ(port.Open(peer->PortName().c_str(), 115200), QVX::kStatusOk);
  EXPECT_TRUE(port.CanUseBaudRate(9600));
  EXPECT_EQ(LineRate(), 115200);
  EXPECT_EQ(port.GetBaudRate(), 115200);
}

TEST_F(ComPort, ProbeAfterSetBaudRateZeroRestoresTheRealSpeed) {
  ASSERT_EQ(port.Open(peer->PortName().c_str(), 115200), QVX::kStatusOk);
  ASSERT_TRUE(port.SetBaudRate(0));
  EXPECT_TRUE(port.CanUseBaudRate(9600));
  EXPECT_EQ(LineRate(), 115200);
  EXPECT_EQ(port.GetBaudRate(), 0);
}

#ifndef _WIN32
TEST_F(ComPort, RateThatTermiosCannotSetIsRefusedAndChangesNothing) {
  ASSERT_EQ(port.Open(peer->PortName().c_str(), 115200), QVX::kStatusOk);
  EXPECT_FALSE(port.CanUseBaudRate(12345));
  EXPECT_FALSE(port.SetBaudRate(12345));
  EXPECT_EQ(LineRate(), 115200);
  EXPECT_EQ(port.GetBaudRate(), 115200);
}
#endif

TEST_F(ComPort, SpeedOperationsOnAClosedPortFail) {
  EXPECT_FALSE(port.SetBaudRate(9600));
  EXPECT_FALSE(port.CanUseBaudRate(9600));
  EXPECT_EQ(port.GetBaudRate(), 0);
}

}  // namespace
}  // namespace vorn_test
