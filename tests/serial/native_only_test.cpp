// Cases that need POSIX means to arrange: a descriptor limit, a FIFO as the port,
// an unprivileged opener.
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>

#include "serial/event_thread.h"
#include "serial/receive_loop.h"
#include "serial/receive_ring.h"
#include "serial/serial_port.h"
#include "serial_fixture.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {

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

  EXPECT_FALSE(session->receiveThread.EventsReady());
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
  EXPECT_TRUE(thread.Join(2000));
  EXPECT_FALSE(failed);
  close(writer);
  unlink(path.c_str());
  rmdir(dir);
}

class ReceiveAfterFailure : public vorn_test::SessionTest {
 protected:
  std::string ReadLine() {
    char buffer[256] = {};
    return session->ReadLineFromRing(buffer, sizeof buffer, 3000) == 1 ? std::string(buffer) : "<none>";
  }
};

TEST_F(ReceiveAfterFailure, CharactersArrivingAfterAFailedWaitResumeTheCycles) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(peer->Send("first\n"));
  ASSERT_EQ(ReadLine(), "first");
  // The thread sits in its wait already; a descriptor limit below the two descriptors
  // that wait polls makes the next one fail, right after the thread reads "second".
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit tight = saved;
  tight.rlim_cur = 1;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  const bool sent = peer->Send("second\n");
  const bool sawFailure = vorn_test::Eventually([&] { return session->failed.load(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  setrlimit(RLIMIT_NOFILE, &saved);
  ASSERT_TRUE(sent);
  ASSERT_TRUE(sawFailure);
  EXPECT_EQ(ReadLine(), "second");

  ASSERT_TRUE(peer->Send("third\n"));
  EXPECT_EQ(ReadLine(), "third");
  ASSERT_TRUE(peer->Send("fourth\n"));
  EXPECT_EQ(ReadLine(), "fourth");
  // Recovery does not hide that the port failed.
  EXPECT_TRUE(session->failed);
  session->Close();
  EXPECT_FALSE(session->receiveThread.Started());
}

// Root ignores the exclusive-open flag, so what a normal user meets is seen only
// with the privileges dropped, in a child.
class UnprivilegedPort : public vorn_test::PeerTest {};

TEST_F(UnprivilegedPort, PortClosedByTheDriverOpensAgainForANormalUser) {
  const std::u16string name = peer->PortName();
  const std::string path(name.begin(), name.end());
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
    SerialPort port;
    if (!port.Open(name.c_str())) _exit(11);
    // Held: another opener is still kept out.
    if (open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK) >= 0 || errno != EBUSY) _exit(12);
    port.Close();
    if (!port.Open(name.c_str())) _exit(13);
    port.Close();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  // 10: privileges not dropped, 11: first open, 12: not exclusive while held, 13: reopen refused.
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace vorn_test
