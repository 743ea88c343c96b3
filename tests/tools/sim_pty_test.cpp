// End to end: the built vorn-sim binary on a real pty, talked to by a tiny raw
// termios client written here (not the driver's port code). Every wait is
// bounded; nothing asserts on timing.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/simlaunch/sim_process.h"

namespace vorn_test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr auto kWait = std::chrono::seconds(5);

std::vector<std::string> CrLfLines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
    lines.push_back(text.substr(start, at - start));
  return lines;
}

std::string Slurp(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

// Waits (bounded) until a file holds the given text.
bool FileGains(const fs::path &path, const std::string &text) {
  for (auto end = Clock::now() + kWait; Clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(5)))
    if (Slurp(path).find(text) != std::string::npos) return true;
  return false;
}

// This build's vorn-sim, started without waiting for its first line.
class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string> &args) {
    std::string error;
    sim.Spawn(VORN_SIM_PATH, args, error);
  }

  // Next SERIAL=PATH line: the path, or empty when none came.
  std::string NextPath(std::string *serial = nullptr) {
    std::string line;
    sim.ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(kWait), line);
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return "";
    if (serial) *serial = line.substr(0, eq);
    return line.substr(eq + 1);
  }

  // Exit status after a bounded wait, -1 if it did not exit.
  int WaitExit() { return sim.WaitExit(std::chrono::duration_cast<std::chrono::milliseconds>(kWait)); }
  int Stop() {
    sim.Terminate();
    return WaitExit();
  }

 private:
  vorn_simlaunch::SimProcess sim;
};

class RawClient {
 public:
  explicit RawClient(const std::string &path) {
    fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    if (fd >= 0 && tcgetattr(fd, &t) == 0) {
      cfmakeraw(&t);
      tcsetattr(fd, TCSANOW, &t);
    }
  }
  ~RawClient() { Close(); }
  void Close() {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  bool IsOpen() const { return fd >= 0; }
  int Fd() const { return fd; }
  void Send(const std::string &bytes) {
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Reads until the received text holds `text` (returns true), the port hangs
  // up or the bounded wait ends.
  bool ReadUntil(const std::string &text) {
    for (auto end = Clock::now() + kWait; Clock::now() < end;) {
      if (received.find(text) != std::string::npos) return true;
      if (!ReadSome(20)) return false;
    }
    return received.find(text) != std::string::npos;
  }
  // Sends cmd until its answer shows up, as a host does with S.
  bool Nudge(const std::string &cmd, const std::string &answer) {
    for (auto end = Clock::now() + kWait; Clock::now() < end;) {
      Send(cmd);
      for (int i = 0; i < 5; ++i) ReadSome(10);
      if (received.find(answer) != std::string::npos) return true;
    }
    return false;
  }
  // False once the other end has gone.
  bool ReadSome(int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return true;
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) received.append(buffer, static_cast<size_t>(n));
    return n > 0 || (n < 0 && errno == EAGAIN);
  }

  std::string received;

 private:
  int fd = -1;
};

class SimPty : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vorn-sim-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

TEST_F(SimPty, FullExchangeOverThePtyMatchesTheSentLog) {
  SimProcess sim(
      {"--serial", "VSC0000042", "--sent-log", (dir / "sent").string(), "--trace", (dir / "trace").string()});
  std::string serial;
  const std::string path = sim.NextPath(&serial);
  EXPECT_EQ(serial, "VSC0000042");
  ASSERT_FALSE(path.empty());
  RawClient port(path);
  ASSERT_TRUE(port.IsOpen());

  ASSERT_TRUE(port.Nudge(":S\n", "S\r\n"));
  port.received.clear();
  port.Send(":V\n");
  ASSERT_TRUE(port.ReadUntil("V,1,4,27,1\r\n"));
  port.Send(":F\n");
  ASSERT_TRUE(port.ReadUntil("EndOfCycle,0.002,0.005,0.01\r\n"));
  port.Send(":U11111\r");
  ASSERT_TRUE(port.ReadUntil("U\r\n"));
  port.Send(":I\n");
  ASSERT_TRUE(port.ReadUntil("0,-5,0,0,30\r\n"));
  EXPECT_EQ(port.received,
            "V,1,4,27,1\r\nF\r\nCount,ECG,Resp,SpO2,Temp\r\nEndOfCycle,0.002,0.005,0.01\r\nU\r\n"
            "I\r\nCount,ECG,Resp,SpO2,Temp\r\ncnt,mV,l/min,%,degC\r\n4294967295,5,60,100,42\r\n0,-5,0,0,30\r\n");

  port.received.clear();
  port.Send(":P1\n:B\n");
  ASSERT_TRUE(port.ReadUntil("\r\n20,"));
  port.Send(":S\n");
  ASSERT_TRUE(port.ReadUntil("\r\nS\r\n"));
  port.Send(":X\n");
  // Nothing may follow the S answer: the stream has stopped.
  for (int i = 0; i < 5; ++i) port.ReadSome(10);
  const std::vector<std::string> lines = CrLfLines(port.received);
  ASSERT_GE(lines.size(), 23u);
  EXPECT_EQ(lines.front(), "B");
  EXPECT_EQ(lines.back(), "S");
  const std::vector<std::string> data(lines.begin() + 1, lines.end() - 1);
  EXPECT_EQ(port.received.substr(port.received.size() - 5), "\r\nS\r\n");

  ASSERT_TRUE(FileGains(dir / "trace", "rx :X\\n"));
  EXPECT_EQ(sim.Stop(), 0);
  std::string expected;
  for (const std::string &line : data) expected += line + "\n";
  EXPECT_EQ(Slurp(dir / "sent"), expected);
}

class SimPtyWatch : public SimPty, public ::testing::WithParamInterface<const char *> {};

TEST_P(SimPtyWatch, ReopenedPortGetsNoStaleOutputAndStillAnswers) {
  SimProcess sim({"--trace", (dir / "trace").string(), "--port-watch", GetParam()});
  const std::string path = sim.NextPath();
  ASSERT_FALSE(path.empty());
  {
    RawClient first(path);
    ASSERT_TRUE(first.Nudge(":S\n", "S\r\n"));
    first.Send(":B\n");
    ASSERT_TRUE(FileGains(dir / "trace", "stream started"));
    // Leave the stream unread, then stop it and close with the lines still queued.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    first.Send(":X\n");
    ASSERT_TRUE(FileGains(dir / "trace", "rx :X\\n"));
    // A half command the device must forget with the close.
    first.Send(":V");
    first.Close();
  }
  ASSERT_TRUE(FileGains(dir / "trace", "port closed by the host"));
  EXPECT_TRUE(FileGains(dir / "trace", "partial command dropped: :V"));

  RawClient second(path);
  ASSERT_TRUE(second.IsOpen());
  ASSERT_TRUE(second.Nudge("\n:S\n", "S\r\n"));
  EXPECT_EQ(second.received.substr(0, 3), "S\r\n");
  second.Close();

  // The host may stay away for a while and come back.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  RawClient third(path);
  ASSERT_TRUE(third.Nudge(":V\n", "V,1,4,27,1\r\n"));
  EXPECT_EQ(sim.Stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(BothWatchModes, SimPtyWatch, ::testing::Values("inotify", "hangup"));

// The host opens exclusively, closes, and must be able to open again, as on a
// real port. Empty result when that holds.
std::string ExclusiveOpenAndReopen() {
  SimProcess sim({});
  const std::string path = sim.NextPath();
  if (path.empty()) return "no SERIAL=PATH line";
  {
    RawClient port(path);
    if (!port.IsOpen() || ioctl(port.Fd(), TIOCEXCL) != 0) return "cannot open exclusively";
    if (RawClient(path).IsOpen()) return "a second open succeeded while the port was exclusive";
    if (!port.Nudge(":S\n", "S\r\n")) return "no S answer";
  }
  for (auto end = Clock::now() + kWait; Clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
    RawClient again(path);
    if (again.IsOpen()) return again.Nudge(":S\n", "S\r\n") ? "" : "no S answer after the reopen";
  }
  return "the port stayed busy after the exclusive holder closed it";
}

TEST_F(SimPty, ExclusiveOpenEndsWithTheHostsClose) {
  if (geteuid() != 0) {
    EXPECT_EQ(ExclusiveOpenAndReopen(), "");
    return;
  }
  // Root ignores TIOCEXCL; check as an unprivileged user in a child.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(fds[0]);
    std::string result = setgid(65534) == 0 && setuid(65534) == 0 ? ExclusiveOpenAndReopen() : "cannot drop privileges";
    if (write(fds[1], result.data(), result.size()) < 0) _exit(2);
    _exit(0);
  }
  close(fds[1]);
  std::string result;
  char buffer[256];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) result.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(result, "");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(SimPty, LinkFollowsThePortAndVanishReopensWithANewPath) {
  const fs::path link = dir / "com7";
  SimProcess sim(
      {"--link", link.string(), "--fault", "vanish=3", "--vanish-action", "reopen", "--reopen-delay-ms", "20"});
  const std::string first = sim.NextPath();
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(fs::read_symlink(link), first);
  {
    RawClient port(link.string());
    ASSERT_TRUE(port.Nudge(":S\n", "S\r\n"));
    port.Send(":B\n");
    ASSERT_FALSE(port.ReadUntil("never arrives"));                    // ends when the device vanishes
    EXPECT_EQ(CrLfLines(port.received).size(), 5u) << port.received;  // S, B, 3 data lines
  }
  const std::string second = sim.NextPath();
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(fs::read_symlink(link), second);
  RawClient again(link.string());
  ASSERT_TRUE(again.Nudge(":S\n", "S\r\n"));
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_FALSE(fs::is_symlink(link));
}

TEST_F(SimPty, ExitAfterAndVanishWithoutReopenEndTheProcess) {
  SimProcess timed({"--exit-after", "0.1", "--link", (dir / "l").string()});
  EXPECT_FALSE(timed.NextPath().empty());
  EXPECT_EQ(timed.WaitExit(), 0);
  EXPECT_FALSE(fs::is_symlink(dir / "l"));

  SimProcess vanishing({"--fault", "vanish=0"});
  RawClient port(vanishing.NextPath());
  ASSERT_TRUE(port.Nudge(":S\n", "S\r\n"));
  port.Send(":B\n");
  EXPECT_EQ(vanishing.WaitExit(), 0);
}

TEST_F(SimPty, BadCommandLineExitsWithUsageError) {
  SimProcess sim({"--fault", "nope"});
  EXPECT_EQ(sim.NextPath(), "");
  EXPECT_EQ(sim.WaitExit(), 2);
}

}  // namespace
}  // namespace vorn_test
