// Initialisation time against a device that answers at once, beside the
// simulator's own minimum exchange; receive-thread CPU while streaming; memory
// per streaming session.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <sys/syscall.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "common/sim_process.h"
#include "device/vorn_serial.h"
#include "support/code_page.h"

namespace {

using namespace OpenPlotr;
using Clock = std::chrono::steady_clock;
using vorn_test::SimProcess;

bool Complete(const VornSerial &s) {
  const auto c = s.protocol.configuration.load();
  return c && c->Complete() && s.protocol.downloadState == kDownloadDone;
}

// Writes a command and reads until `lines` CR LF lines came back.
bool Exchange(int fd, const std::string &command, int lines) {
  if (write(fd, command.data(), command.size()) != static_cast<ssize_t>(command.size())) return false;
  char c;
  int seen = 0;
  while (seen < lines) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 2000) <= 0 || read(fd, &c, 1) != 1) return false;
    seen += c == '\n';
  }
  return true;
}

// The simulator's minimum exchange: S V F U I answered, by a bare client.
void BM_SimulatorMinimumExchange(benchmark::State &state) {
  SimProcess sim;
  if (!sim.ok()) return state.SkipWithError("vorn-sim did not start");
  for (auto _ : state) {
    const int fd = open(sim.path().c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    const bool ok = Exchange(fd, ":S\n", 1) && Exchange(fd, ":V\n", 1) && Exchange(fd, ":F\n", 3) &&
                    Exchange(fd, ":U11111\r", 1) && Exchange(fd, ":I\n", 5);
    close(fd);
    if (!ok) return state.SkipWithError("exchange failed");
  }
}
BENCHMARK(BM_SimulatorMinimumExchange)->Unit(benchmark::kMillisecond)->Iterations(20);

// From InitialiseSession called to the complete configuration.
void BM_InitialiseToCompleteConfiguration(benchmark::State &state) {
  SimProcess sim;
  if (!sim.ok()) return state.SkipWithError("vorn-sim did not start");
  for (auto _ : state) {
    state.PauseTiming();
    auto session = std::make_unique<VornSerial>(QVX::AnsiToWide(sim.path()), 1, u"1234567");
    state.ResumeTiming();
    if (session->InitialiseSession(session->portName) != 0) return state.SkipWithError("initialisation failed");
    auto complete = [&] { return Complete(*session); };
    const auto limit = Clock::now() + std::chrono::seconds(5);
    while (!complete() && Clock::now() < limit) session->protocol.signal.WaitFor(complete, std::chrono::milliseconds(10));
    if (!complete()) return state.SkipWithError("no complete configuration");
    // Closing costs the X command and the thread's stop: not part of the initialisation.
    state.PauseTiming();
    session.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_InitialiseToCompleteConfiguration)->Unit(benchmark::kMillisecond)->Iterations(20);

double ThreadCpuSeconds(pid_t tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  // Fields after the name: state is field 3; utime and stime are 14 and 15.
  std::istringstream rest(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double OtherThreadsCpu() {
  double total = 0;
  const pid_t self = static_cast<pid_t>(syscall(SYS_gettid));
  for (const auto &entry : std::filesystem::directory_iterator("/proc/self/task")) {
    const pid_t tid = std::stoi(entry.path().filename().string());
    if (tid != self) total += ThreadCpuSeconds(tid);
  }
  return total;
}

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE) / 1024;
}

// Streams at the fastest period while the host reads; reports the receive
// thread's share of one core and the memory the session holds.
void BM_StreamingReceiveThread(benchmark::State &state) {
  SimProcess sim;
  if (!sim.ok()) return state.SkipWithError("vorn-sim did not start");
  const long before = ResidentKiB();
  VornSerial session(QVX::AnsiToWide(sim.path()), 1, u"1234567");
  if (session.InitialiseSession(session.portName) != 0) return state.SkipWithError("initialisation failed");
  while (!Complete(session)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  char text[32];
  CommandRecord r{text, sizeof text, 0, 0, 0, 0, 0};
  for (int p = 1; p <= 4; ++p) {
    r.argument = p;
    session.ExecuteCommand(42, &r);
  }
  r.argument = 2000;
  session.ExecuteCommand(35, &r);
  session.ExecuteCommand(37, &r);
  char line[256];
  std::uint64_t lines = 0;
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    const double cpu0 = OtherThreadsCpu();
    const auto t0 = Clock::now();
    while (Clock::now() - t0 < std::chrono::seconds(2)) lines += session.ReadLineFromRing(line, sizeof line, 100);
    wall += std::chrono::duration<double>(Clock::now() - t0).count();
    cpu += OtherThreadsCpu() - cpu0;
  }
  session.ExecuteCommand(38, &r);
  state.counters["lines_per_s"] = static_cast<double>(lines) / wall;
  state.counters["receive_thread_core_pct"] = 100.0 * cpu / wall;
  state.counters["session_rss_kib"] = static_cast<double>(ResidentKiB() - before);
}
BENCHMARK(BM_StreamingReceiveThread)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
