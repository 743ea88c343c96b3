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

#include <atomic>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <cstdio>
#include <cstdlib>
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

// Time on a CPU in nanoseconds from the scheduler's own account: the tick-based
// utime/stime fields are too coarse for a thread that runs a few microseconds a line.
double ThreadCpuSeconds(pid_t tid) {
  std::ifstream schedstat("/proc/self/task/" + std::to_string(tid) + "/schedstat");
  unsigned long long onCpuNs = 0;
  schedstat >> onCpuNs;
  return static_cast<double>(onCpuNs) / 1e9;
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

// How long each streaming measurement runs: VORN_BENCH_STREAM_SECONDS, 5 by default.
std::chrono::duration<double> StreamSeconds() {
  const char *given = std::getenv("VORN_BENCH_STREAM_SECONDS");
  const double seconds = given ? std::atof(given) : 0.0;
  return std::chrono::duration<double>(seconds > 0 ? seconds : 5.0);
}

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE) / 1024;
}

// The floor for the receive thread: a bare thread that polls and reads the same
// simulator streaming at the same period, and does nothing with the bytes.
void BM_StreamingBareReaderBaseline(benchmark::State &state) {
  SimProcess sim;
  if (!sim.ok()) return state.SkipWithError("vorn-sim did not start");
  const int fd = open(sim.path().c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  if (!(Exchange(fd, ":S\n", 1) && Exchange(fd, ":V\n", 1) && Exchange(fd, ":F\n", 3) &&
        Exchange(fd, ":U11111\r", 1) && Exchange(fd, ":I\n", 5) && Exchange(fd, ":S\n", 1))) {
    close(fd);
    return state.SkipWithError("exchange failed");
  }
  const std::string start = ":P1\n:B\n";
  if (write(fd, start.data(), start.size()) != static_cast<ssize_t>(start.size())) return state.SkipWithError("write");
  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> lines{0};
  pid_t readerTid = 0;
  std::atomic<bool> started{false};
  std::thread reader([&] {
    readerTid = static_cast<pid_t>(syscall(SYS_gettid));
    started = true;
    char chunk[8192];
    while (!stop) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      const ssize_t got = read(fd, chunk, sizeof chunk);
      for (ssize_t i = 0; i < got; ++i) lines += chunk[i] == '\n';
    }
  });
  while (!started) std::this_thread::yield();
  double cpu = 0, wall = 0;
  std::uint64_t counted = 0;
  for (auto _ : state) {
    const double cpu0 = ThreadCpuSeconds(readerTid);
    const std::uint64_t lines0 = lines;
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(StreamSeconds());
    wall += std::chrono::duration<double>(Clock::now() - t0).count();
    cpu += ThreadCpuSeconds(readerTid) - cpu0;
    counted += lines - lines0;
  }
  stop = true;
  reader.join();
  Exchange(fd, ":S\n", 1);
  close(fd);
  state.counters["lines_per_s"] = static_cast<double>(counted) / wall;
  state.counters["reader_core_pct"] = 100.0 * cpu / wall;
  state.counters["reader_us_per_line"] = counted ? 1e6 * cpu / static_cast<double>(counted) : 0;
}
BENCHMARK(BM_StreamingBareReaderBaseline)->Unit(benchmark::kMillisecond)->Iterations(1);

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
    while (Clock::now() - t0 < StreamSeconds()) lines += session.ReadLineFromRing(line, sizeof line, 100);
    wall += std::chrono::duration<double>(Clock::now() - t0).count();
    cpu += OtherThreadsCpu() - cpu0;
  }
  session.ExecuteCommand(38, &r);
  state.counters["lines_per_s"] = static_cast<double>(lines) / wall;
  state.counters["receive_thread_core_pct"] = 100.0 * cpu / wall;
  state.counters["receive_thread_us_per_line"] = lines ? 1e6 * cpu / static_cast<double>(lines) : 0;
  state.counters["session_rss_kib"] = static_cast<double>(ResidentKiB() - before);
}
BENCHMARK(BM_StreamingReceiveThread)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
