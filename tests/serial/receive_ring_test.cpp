#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <limits>
#include <string>
#include <thread>

#include "serial/event_thread.h"
#include "serial/host_reads.h"
#include "serial/receive_ring.h"

namespace vorn_test {
namespace {

using OpenPlotr::DataEvent;
using OpenPlotr::ReceiveRing;
using OpenPlotr::WaitOutcome;

std::string Drain(ReceiveRing &ring) {
  std::string out(static_cast<std::size_t>(ring.BytesWaiting()), '\0');
  out.resize(static_cast<std::size_t>(ring.Take(out.data(), static_cast<std::int32_t>(out.size()))));
  return out;
}

void Fill(ReceiveRing &ring, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) ASSERT_TRUE(ring.PushByte(static_cast<std::uint8_t>(i)));
}

TEST(ReceiveRing, FullRingDropsTheNextByteUntilTheReaderFreesOne) {
  ReceiveRing ring;
  Fill(ring, ReceiveRing::kMaxWaiting);
  EXPECT_EQ(ring.BytesWaiting(), 65535);
  EXPECT_FALSE(ring.PushByte(0xEE));
  EXPECT_FALSE(ring.PushLine("x", 1));
  EXPECT_EQ(ring.BytesWaiting(), 65535);
  char one;
  ASSERT_EQ(ring.Take(&one, 1), 1);
  EXPECT_EQ(one, 0);
  EXPECT_TRUE(ring.PushByte(0x42));
  EXPECT_FALSE(ring.PushByte(0x43));
  std::string rest = Drain(ring);
  ASSERT_EQ(rest.size(), 65535u);
  EXPECT_EQ(static_cast<std::uint8_t>(rest[0]), 1);
  EXPECT_EQ(rest.back(), 0x42);
}

TEST(ReceiveRing, BytesKeepTheirOrderAcrossTheWrapAt65536) {
  ReceiveRing ring;
  Fill(ring, 65000);
  EXPECT_EQ(Drain(ring).size(), 65000u);
  const std::string line = "wrap-around line that crosses the end of the ring\n";
  for (int i = 0; i < 30; ++i) ASSERT_TRUE(ring.PushLine(line.data(), static_cast<std::int32_t>(line.size())));
  EXPECT_LT(ring.WritePosition(), ring.ReadPosition());
  // Bytes waiting after the write position wrapped: writePos - readPos + 65536.
  EXPECT_EQ(ring.BytesWaiting(), ring.WritePosition() - ring.ReadPosition() + 65536);
  EXPECT_EQ(ring.BytesWaiting(), static_cast<std::int32_t>(30 * line.size()));
  std::string expected;
  for (int i = 0; i < 30; ++i) expected += line;
  EXPECT_EQ(Drain(ring), expected);
}

TEST(ReceiveRing, LineThatDoesNotFitIsDroppedWhole) {
  ReceiveRing ring;
  Fill(ring, ReceiveRing::kMaxWaiting - 5);
  EXPECT_FALSE(ring.PushLine("@ 1,2\n", 6));
  EXPECT_FALSE(ring.PushText(u"@ 1,2\n"));
  EXPECT_EQ(ring.BytesWaiting(), ReceiveRing::kMaxWaiting - 5);
  EXPECT_TRUE(ring.PushLine("@ 12\n", 5));
  EXPECT_EQ(ring.BytesWaiting(), ReceiveRing::kMaxWaiting);
}

TEST(ReceiveRing, TextStoresTheLowByteOfEachCharacter) {
  ReceiveRing ring;
  EXPECT_TRUE(ring.PushText(u"@ 7\u01B0,\n"));
  EXPECT_EQ(Drain(ring), std::string("@ 7\xB0,\n"));
  EXPECT_FALSE(ring.PushText(std::u16string(70000, u'a')));
  EXPECT_EQ(ring.BytesWaiting(), 0);
}

TEST(ReceiveRing, FlushDuringAppendLeavesOnlyNewBytes) {
  ReceiveRing ring;
  ring.PushLine("old\n", 4);
  ring.ResetForHost();
  EXPECT_EQ(ring.BytesWaiting(), 0);
  ring.PushLine("new\n", 4);
  EXPECT_EQ(Drain(ring), "new\n");
}

class HostReads : public ::testing::Test {
 protected:
  void Put(const std::string &text) {
    ASSERT_TRUE(ring.PushLine(text.data(), static_cast<std::int32_t>(text.size())));
    data.Set();
  }
  std::int32_t Line(std::int32_t maxLen, std::uint32_t timeout = 0) {
    return OpenPlotr::ReadLineFromRing(&ring, data, buffer, maxLen, timeout);
  }

  ReceiveRing ring;
  OpenPlotr::DataEvent data;
  char buffer[128] = {};
};

TEST_F(HostReads, LineIsDeliveredWithoutItsTerminator) {
  Put("12,34\n");
  ASSERT_EQ(Line(100), 1);
  EXPECT_STREQ(buffer, "12,34");
  EXPECT_EQ(ring.BytesWaiting(), 0);
}

TEST_F(HostReads, LongLineComesInPiecesThenAnEmptyLine) {
  Put("abcdef\n");
  ASSERT_EQ(Line(4), 1);
  EXPECT_STREQ(buffer, "abc");
  ASSERT_EQ(Line(4), 1);
  EXPECT_STREQ(buffer, "def");
  ASSERT_EQ(Line(4), 1);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(ring.BytesWaiting(), 0);
}

TEST_F(HostReads, CarriageReturnLineFeedGivesALineAndAnEmptyLine) {
  Put("ok\r\n");
  ASSERT_EQ(Line(100), 1);
  EXPECT_STREQ(buffer, "ok");
  ASSERT_EQ(Line(100), 1);
  EXPECT_STREQ(buffer, "");
}

TEST_F(HostReads, UnterminatedTextIsNotALine) {
  Put("abc");
  std::memset(buffer, 'z', sizeof buffer);
  EXPECT_EQ(Line(100, 0), 0);
  EXPECT_EQ(buffer[0], 'z');
  EXPECT_EQ(ring.BytesWaiting(), 3);
}

TEST_F(HostReads, BufferOfOneGetsAnEmptyStringAndTakesNothing) {
  Put("x\n");
  ASSERT_EQ(Line(1), 1);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(ring.BytesWaiting(), 2);
}

// A host polling with no room must still see when a line is there, or it spins.
TEST_F(HostReads, BufferOfZeroOrLessReadsAsOneButIsNeverWritten) {
  buffer[0] = 'z';
  Put("x");
  EXPECT_EQ(Line(0, 0), 0);
  Put("\n");
  for (const std::int32_t maxLen : {0, -5, std::numeric_limits<std::int32_t>::min()}) {
    EXPECT_EQ(Line(maxLen), 1) << maxLen;
  }
  EXPECT_EQ(buffer[0], 'z');
  EXPECT_EQ(ring.BytesWaiting(), 2);
}

TEST_F(HostReads, BufferOfZeroWaitsForALineToComplete) {
  Put("x");
  std::thread producer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    Put("\n");
  });
  EXPECT_EQ(Line(0, 5000), 1);
  producer.join();
  EXPECT_EQ(ring.BytesWaiting(), 2);
}

TEST_F(HostReads, BlockReadTimesOutOnAnEmptyRing) {
  const std::uint64_t started = OpenPlotr::MonotonicMs();
  EXPECT_EQ(OpenPlotr::ReadBlockFromRing(&ring, data, buffer, 10, 50), 0);
  EXPECT_GE(OpenPlotr::MonotonicMs() - started, 45u);
}

TEST_F(HostReads, BlockReadDeliversNoMoreThanIsWaiting) {
  Put("0123456789");
  std::memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(OpenPlotr::ReadBlockFromRing(&ring, data, buffer, 100, 0), 1);
  EXPECT_STREQ(buffer, "0123456789");
  EXPECT_EQ(OpenPlotr::BytesWaiting(&ring), 0);
}

TEST_F(HostReads, BlockReadOfNothingTakesNothing) {
  Put("ab");
  EXPECT_EQ(OpenPlotr::ReadBlockFromRing(&ring, data, buffer, 0, 0), 0);
  EXPECT_EQ(ring.BytesWaiting(), 2);
}

TEST_F(HostReads, FlushEmptiesTheRing) {
  Put("abc\ndef\n");
  OpenPlotr::FlushRing(&ring);
  EXPECT_EQ(OpenPlotr::BytesWaiting(&ring), 0);
  EXPECT_EQ(Line(100, 0), 0);
}

// The event the host's reads wait on resets itself: signals given while nobody waits
// merge into one, which the next wait takes.
TEST(DataEvent, SignalsGivenWhileNobodyWaitsAreKeptForOneWait) {
  DataEvent data;
  data.Set();
  data.Set();
  EXPECT_EQ(data.Wait(0), WaitOutcome::kFirst);
  EXPECT_EQ(data.Wait(0), WaitOutcome::kTimeout);
  data.Set();
  EXPECT_EQ(data.Wait(OpenPlotr::kWaitForever), WaitOutcome::kFirst);
  data.Set();
  data.Reset();
  EXPECT_EQ(data.Wait(0), WaitOutcome::kTimeout);
}

TEST(DataEvent, WaitWithoutASignalLastsItsTimeOut) {
  DataEvent data;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(data.Wait(40), WaitOutcome::kTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(39));
}

TEST(HostReadsWithoutRing, ASessionNeverStartedReadsAsEmpty) {
  OpenPlotr::DataEvent data;
  char buffer[8] = {'z'};
  EXPECT_EQ(OpenPlotr::ReadLineFromRing(nullptr, data, buffer, 8, 1000), 0);
  EXPECT_EQ(OpenPlotr::ReadBlockFromRing(nullptr, data, buffer, 8, 1000), 0);
  EXPECT_EQ(OpenPlotr::BytesWaiting(nullptr), 0);
  OpenPlotr::FlushRing(nullptr);
  EXPECT_EQ(buffer[0], 'z');
}

}  // namespace
}  // namespace vorn_test
