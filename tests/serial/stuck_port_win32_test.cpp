// A port driver that never completes a cancelled operation must not hang the
// host: writes give up, CloseAll returns, and every record the system may still
// write to stays alive (the double writes to each one when the test ends).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>

#include "device/port_commands.h"
#include "driver/device_table.h"
#include "serial/com_port.h"
#include "serial/stuck_port_win32.h"
#include "serial/transmit.h"
#include "serial_fixture.h"
#include "vorn.h"

namespace vorn_test {
namespace {

using vorn_test::StuckPort;

// Far beyond the driver's own bounds (about a second): only a hang gets here.
constexpr auto kHang = std::chrono::seconds(8);

// Runs call on its own thread; a call still running after kHang is a hang. The
// double then completes whatever goes pending until the call has returned.
template <typename Call>
bool ReturnsWithoutHanging(StuckPort &stuck, Call call, std::int64_t &elapsedMs) {
  const auto started = std::chrono::steady_clock::now();
  auto running = std::async(std::launch::async, call);
  const bool returned = running.wait_for(kHang) == std::future_status::ready;
  elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  while (running.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) stuck.CompleteAll();
  running.get();
  return returned;
}

TEST(StuckPort, WritePortGivesUpOnAWriteWhoseCancellationNeverCompletes) {
  StuckPort stuck;
  ASSERT_TRUE(stuck.Install(StuckPort::CommWait::kPends));
  OpenPlotr::COMPort port;
  ASSERT_EQ(port.Open(vorn_test::kStuckPortName, 115200), 0);

  bool sent = true;
  std::int64_t ms = 0;
  ASSERT_TRUE(ReturnsWithoutHanging(
      stuck, [&] { sent = OpenPlotr::WritePort(port, ":S\n", 3); }, ms))
      << "WritePort waits for a cancellation that never completes";
  EXPECT_FALSE(sent);
  std::printf("WritePort gave up after %lld ms\n", static_cast<long long>(ms));
  // The abandoned write keeps its record; the next write gets its own.
  EXPECT_EQ(stuck.PendingWrites(), 1);
  ASSERT_TRUE(ReturnsWithoutHanging(
      stuck, [&] { sent = OpenPlotr::SendCommand(port, 'X'); }, ms));
  EXPECT_FALSE(sent);
  EXPECT_EQ(stuck.PendingWrites(), 2);
  port.Close();
}

class StuckSession : public ::testing::TestWithParam<StuckPort::CommWait> {
 protected:
  void TearDown() override { OpenPlotr::deviceTable().DestroyAll(); }
};

// kCharsAtOnce: the receive thread sits in a read that never completes; kPends:
// in a comm-event wait that neither a cancellation nor a new mask ends.
TEST_P(StuckSession, CloseAllReturnsAndKeepsWhatTheSystemMayStillWrite) {
  StuckPort stuck;
  ASSERT_TRUE(stuck.Install(GetParam()));
  vorn_test::RawRingSink sink;
  auto session = std::make_unique<OpenPlotr::VornSerial>(vorn_test::kStuckPortName, 7, u"VSC0001");
  sink.session = session.get();
  session->SetChunkSink(&sink);
  ASSERT_EQ(session->StartTransport(vorn_test::kStuckPortName), 0);
  if (GetParam() == StuckPort::CommWait::kCharsAtOnce) {
    ASSERT_TRUE(stuck.AwaitPendingRead(3000));
  } else {
    ASSERT_TRUE(vorn_test::Eventually([&] { return stuck.PendingCommWaits() == 1; }));
  }
  OpenPlotr::deviceTable().Append(std::move(session));

  std::int32_t closed = 0;
  std::int64_t ms = 0;
  ASSERT_TRUE(ReturnsWithoutHanging(
      stuck, [&] { closed = CloseAll(); }, ms))
      << "CloseAll waits for an operation that never completes";
  EXPECT_EQ(closed, 1);
  std::printf("CloseAll returned after %lld ms\n", static_cast<long long>(ms));
  // The X command was sent and abandoned; the thread's read or wait was abandoned too.
  EXPECT_EQ(stuck.PendingWrites(), 1);
  if (GetParam() == StuckPort::CommWait::kCharsAtOnce) {
    EXPECT_EQ(stuck.PendingReads(), 1);
  } else {
    EXPECT_EQ(stuck.PendingCommWaits(), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(ReadOrCommWait, StuckSession,
                         ::testing::Values(StuckPort::CommWait::kCharsAtOnce, StuckPort::CommWait::kPends),
                         [](const ::testing::TestParamInfo<StuckPort::CommWait> &info) {
                           return info.param == StuckPort::CommWait::kPends ? "CommWaitNeverEnds"
                                                                            : "ReadNeverCompletes";
                         });

}  // namespace
}  // namespace vorn_test
