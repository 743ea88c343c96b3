// Cases that need POSIX means to arrange: a descriptor limit, a FIFO as the port.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "serial/event_thread.h"
#include "serial/receive_loop.h"
#include "serial/receive_ring.h"
#include "serial/serial_port.h"
#include "serial_fixture.h"

namespace {

using namespace OpenPlotr;

TEST(SessionEvents, SessionWhoseEventsCouldNotBeMadeFailsCleanly) {
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  const int lowest = dup(0);
  ASSERT_GE(lowest, 0);
  close(lowest);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(lowest);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  auto session = std::make_unique<VornSerial>(u"/dev/null", 1, u"VSC0002");
  setrlimit(RLIMIT_NOFILE, &saved);

  EXPECT_FALSE(session->TransportUsable());
  EXPECT_EQ(session->StartTransport(u"/dev/null"), QVX::kStatusFail);
  EXPECT_TRUE(session->failed);
  EXPECT_FALSE(session->IsOpen());
  EXPECT_FALSE(session->receiveThread.Started());
  session.reset();
}

class CountingSink final : public ChunkSink {
 public:
  QVX::Status HandleChunk(const char *, std::int32_t count) override {
    total += count;
    if (count > largest) largest = count;
    return QVX::kStatusOk;
  }
  std::atomic<std::int64_t> total{0};
  std::atomic<std::int32_t> largest{0};
};

struct LoopArguments {
  ReceiveLoop *loop;
  Event *ended;
};

TEST(ReceiveLoopBurst, BurstLargerThanOneReadIsReadInFullChunksWithNothingLeft) {
  // A FIFO holds far more than a pty, so reads of the whole 8191 bytes happen.
  char dir[] = "/tmp/vorn-fifo-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/port";
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  const int writer = open(path.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  const std::string burst(20000, 'b');
  ASSERT_EQ(write(writer, burst.data(), burst.size()), static_cast<ssize_t>(burst.size()));

  SerialPort port;
  ASSERT_TRUE(port.Open(std::u16string(path.begin(), path.end()).c_str()));
  Event comm, stop, ended;
  DataEvent data;
  std::atomic<bool> failed{false};
  CountingSink sink;
  std::unique_ptr<char[]> buffer(new char[kChunkBufferBytes]);
  ReceiveLoop loop(port, comm, stop, data, failed, sink, buffer.get());
  LoopArguments args{&loop, &ended};
  Thread thread;
  ASSERT_TRUE(thread.Start(
      [](void *a) -> std::uint32_t {
        auto *p = static_cast<LoopArguments *>(a);
        p->loop->Run();
        p->ended->Set();
        return 0;
      },
      &args));
  EXPECT_TRUE(vorn_test::Eventually([&] { return sink.total.load() == 20000; }));
  EXPECT_EQ(sink.largest.load(), kChunkBytes);
  stop.Set();
  EXPECT_EQ(ended.Wait(2000), WaitOutcome::kFirst);
  thread.Release();
  EXPECT_FALSE(failed);
  close(writer);
  unlink(path.c_str());
  rmdir(dir);
}

}  // namespace
