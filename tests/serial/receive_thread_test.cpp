#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "serial/event_thread.h"
#include "device/port_commands.h"
#include "serial_fixture.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {
using vorn_test::Eventually;

class ReceiveThread : public vorn_test::SessionTest {
 protected:
  std::string ReadLine(std::uint32_t timeout = 3000) {
    char buffer[256] = {};
    return session->ReadLineFromRing(buffer, sizeof buffer, timeout) == 1 ? std::string(buffer) : "<none>";
  }
};

TEST_F(ReceiveThread, BytesFromTheDeviceReachTheHostAndCommandsReachTheDevice) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(peer->Send("12,34\n"));
  EXPECT_EQ(ReadLine(), "12,34");
  EXPECT_EQ(session->BytesWaiting(), 0);
  ASSERT_TRUE(SendCommand(*session, 'V'));
  EXPECT_EQ(peer->Receive(3, 2000), ":V\n");
  EXPECT_FALSE(session->failed);
}

TEST_F(ReceiveThread, BytesBufferedBeforeTheThreadStartsAreDelivered) {
  // The first comm-event wait completes at once; the leftover signal of that
  // completion must not turn the next wait into a failure.
  ASSERT_TRUE(peer->Send("early\n"));
  ASSERT_TRUE(Start());
  EXPECT_EQ(ReadLine(), "early");
  ASSERT_TRUE(peer->Send("later\n"));
  EXPECT_EQ(ReadLine(), "later");
  EXPECT_FALSE(session->failed);
}

TEST_F(ReceiveThread, ManyLinesArriveInOrder) {
  ASSERT_TRUE(Start());
  std::string all;
  for (int i = 0; i < 200; ++i) all += "@ " + std::to_string(i) + ",5\n";
  ASSERT_TRUE(peer->Send(all));
  for (int i = 0; i < 200; ++i) ASSERT_EQ(ReadLine(), "@ " + std::to_string(i) + ",5");
  EXPECT_FALSE(session->failed);
}

TEST_F(ReceiveThread, SilentLineIsWaitedOnWithoutSpinning) {
  // Also where every comm-event wait ends aborted before any byte arrives (Wine on a bare pty).
  ASSERT_TRUE(Start());
  const std::uint64_t cpuBefore = vorn_test::ProcessCpuMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_LT(vorn_test::ProcessCpuMs() - cpuBefore, 250u);
  ASSERT_TRUE(peer->Send("after silence\n"));
  EXPECT_EQ(ReadLine(), "after silence");
  EXPECT_FALSE(session->failed);
}

TEST_F(ReceiveThread, TricklingLineIsWaitedForAsLongAsBytesKeepComing) {
  ASSERT_TRUE(Start());
  std::thread device([this] {
    for (const char c : std::string("slow-line\n")) {
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
      peer->Send(std::string(1, c));
    }
  });
  // Ten bytes 40 ms apart take longer than one 250 ms time-out, never between two bytes.
  EXPECT_EQ(ReadLine(250), "slow-line");
  device.join();
}

TEST_F(ReceiveThread, InfiniteTimeOutWaitsForALateLine) {
  ASSERT_TRUE(Start());
  std::thread device([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    peer->Send("late\n");
  });
  EXPECT_EQ(ReadLine(kWaitForever), "late");
  device.join();
}

TEST_F(ReceiveThread, ZeroTimeOutDoesNotWaitForAnUnfinishedLine) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(peer->Send("abc"));
  ASSERT_TRUE(Eventually([&] { return session->BytesWaiting() == 3; }));
  EXPECT_EQ(ReadLine(0), "<none>");
  EXPECT_EQ(session->BytesWaiting(), 3);
}

TEST_F(ReceiveThread, FailedChunkIsNotAnnouncedToReaders) {
  ASSERT_TRUE(Start());
  sink.failing = true;
  ASSERT_TRUE(peer->Send("x"));
  ASSERT_TRUE(Eventually([&] { return sink.chunks.load() > 0; }));
  EXPECT_EQ(session->receiveThread.dataEvent.Wait(200), WaitOutcome::kTimeout);
  EXPECT_FALSE(session->failed);
}

TEST_F(ReceiveThread, FlushKeepsOnlyWhatArrivesAfterIt) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(peer->Send("old\n"));
  ASSERT_TRUE(Eventually([&] { return session->BytesWaiting() == 4; }));
  session->FlushReadBuffer();
  EXPECT_EQ(session->BytesWaiting(), 0);
  ASSERT_TRUE(peer->Send("new\n"));
  EXPECT_EQ(ReadLine(), "new");
}

TEST_F(ReceiveThread, StopWhileWaitingEndsTheThreadAndLeavesFailedClear) {
  ASSERT_TRUE(Start());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  session->Close();
  EXPECT_FALSE(session->receiveThread.Started());
  EXPECT_FALSE(session->IsOpen());
  EXPECT_FALSE(session->failed);
  EXPECT_EQ(peer->Receive(3, 1000), ":X\n");
}

TEST_F(ReceiveThread, PortThatGoesAwaySetsFailedAndTheThreadWaitsForItsStop) {
  ASSERT_TRUE(Start());
  peer->HangUp();
  ASSERT_TRUE(Eventually([&] { return session->failed.load(); }));
  EXPECT_TRUE(session->receiveThread.Started());
  // Waiting, not spinning at raised priority.
  const std::uint64_t cpuBefore = vorn_test::ProcessCpuMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_LT(vorn_test::ProcessCpuMs() - cpuBefore, 200u);
  session->Close();
  EXPECT_FALSE(session->receiveThread.Started());
}

TEST_F(ReceiveThread, CloseWithoutAThreadLeavesNoStopForTheNextOne) {
  session->Close();
  session->Close();
  ASSERT_TRUE(Start());
  ASSERT_TRUE(peer->Send("alive\n"));
  EXPECT_EQ(ReadLine(), "alive");
}

TEST_F(ReceiveThread, RepeatedStartGivesAFreshRingAndARunningThread) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(peer->Send("first"));
  ASSERT_TRUE(Eventually([&] { return session->BytesWaiting() == 5; }));
  ASSERT_TRUE(Start());
  EXPECT_EQ(session->BytesWaiting(), 0);
  ASSERT_TRUE(peer->Send("second\n"));
  EXPECT_EQ(ReadLine(), "second");
  EXPECT_FALSE(session->failed);
}

TEST_F(ReceiveThread, StartOnANameThatCannotBeOpenedFails) {
  EXPECT_EQ(session->StartTransport(vorn_test::MissingPortName()), QVX::kStatusFail);
  EXPECT_TRUE(session->failed);
  EXPECT_FALSE(session->IsOpen());
  EXPECT_FALSE(session->receiveThread.Started());
}

TEST_F(ReceiveThread, DestroyingASessionWaitsPastTheBoundForABusyThread) {
  ASSERT_TRUE(Start());
  sink.holdMs = 800;
  ASSERT_TRUE(peer->Send("x"));
  ASSERT_TRUE(Eventually([&] { return sink.held.load(); }));
  // The thread still runs in the sink after the 500 ms stop wait; the session's
  // events, ring and port must outlive it.
  session.reset();
  EXPECT_TRUE(sink.released);
}

TEST_F(ReceiveThread, SessionDestroyedWhileStreamingLetsGoCleanly) {
  ASSERT_TRUE(Start());
  std::thread device([this] {
    for (int i = 0; i < 50; ++i) peer->Send("@ 1,2,3\n");
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  session.reset();
  device.join();
}

}  // namespace
}  // namespace vorn_test
