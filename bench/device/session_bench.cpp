// Initialisation time against a device that answers at once, beside the
// simulator's own minimum exchange; receive-thread CPU while streaming, beside a bare
// reader and a reader that hands its chunks to a waiting thread; memory per
// streaming session.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <sys/eventfd.h>
#include <sys/syscall.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/bench_sim.h"
#include "common/chunk_reader.h"
#include "common/cpu_pinning.h"
#include "device/vorn_serial.h"
#include "support/code_page.h"

namespace {

using namespace OpenPlotr;
using Clock = std::chrono::steady_clock;

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
  BenchSim sim;
  if (!sim.ok()) return state.SkipWithError("vorn-sim did not start");
  for (auto _ : state) {
    const int fd = open(sim.Path().c_str(), O_RDWR | O_NOCTTY);
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
  BenchSim sim;
  if (!sim.ok()) return state.SkipWithError("vorn-sim did not start");
  for (auto _ : state) {
    state.PauseTiming();
    auto session = std::make_unique<VornSerial>(QVX::AnsiToWide(sim.Path()), 1, u"1234567");
    state.ResumeTiming();
    if (session->InitialiseSession(session->portName) != 0) return state.SkipWithError("initialisation failed");
    auto complete = [&] { return Complete(*session); };
    const auto limit = Clock::now() + std::chrono::seconds(5);
    while (!complete() && Clock::now() < limit)
      session->protocol.signal.WaitFor(complete, std::chrono::milliseconds(10));
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

// Opens the simulator as a bare client, makes the exchange a stream
// needs and starts the fastest stream, as the baselines' source.
int StartBareStream(const std::string &path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return -1;
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  const std::string start = ":P1\n:B\n";
  if (!(Exchange(fd, ":S\n", 1) && Exchange(fd, ":V\n", 1) && Exchange(fd, ":F\n", 3) && Exchange(fd, ":U11111\r", 1) &&
        Exchange(fd, ":I\n", 5) && Exchange(fd, ":S\n", 1)) ||
      write(fd, start.data(), start.size()) != static_cast<ssize_t>(start.size())) {
    close(fd);
    return -1;
  }
  return fd;
}

// A baseline for the receive thread: a bare thread that polls and reads a simulator
// streaming at the same period. Without a hand-off it does nothing with the bytes (the
// floor of any reader); with one it also hands every chunk to a reader thread that
// waits on an event with a time-out, as the host waits in ReadLine: the floor of any
// design that gives lines to a host thread, since it pays that thread's wake-up.
class BaselineStream {
 public:
  explicit BaselineStream(bool handOff) {
    if (!sim_.ok() || (fd_ = StartBareStream(sim_.Path())) < 0) return;
    reader_ = std::make_unique<vorn_bench::ChunkReader>(fd_, handOff);
    if (!reader_->ok() || !handOff) return;
    host_ = std::thread([this] { Consume(); });
    while (hostTid_ == 0) std::this_thread::yield();
  }
  ~BaselineStream() {
    stop_ = true;
    if (host_.joinable()) host_.join();
    reader_.reset();  // before the port it reads goes
    if (fd_ >= 0) {
      Exchange(fd_, ":S\n", 1);
      close(fd_);
    }
  }
  bool ok() const { return reader_ && reader_->ok(); }
  double CpuSeconds() const { return ThreadCpuSeconds(ReaderTid()); }
  pid_t ReaderTid() const { return reader_ ? reader_->ReaderTid() : 0; }
  pid_t HostTid() const { return hostTid_; }
  std::uint64_t Lines() const { return reader_ ? reader_->Lines() : 0; }

 private:
  // The host's side: wait on the event, take the signal, look at what came.
  void Consume() {
    hostTid_ = vorn_bench::ThisThreadId();
    std::uint64_t taken = 0;
    while (!stop_.load(std::memory_order_relaxed)) {
      pollfd p{reader_->Event(), POLLIN, 0};
      if (poll(&p, 1, 100) > 0 && read(reader_->Event(), &taken, sizeof taken) > 0) benchmark::DoNotOptimize(Lines());
    }
  }

  BenchSim sim_;
  int fd_ = -1;
  std::unique_ptr<vorn_bench::ChunkReader> reader_;
  std::atomic<bool> stop_{false};
  std::atomic<pid_t> hostTid_{0};
  std::thread host_;
};

// Streams at the fastest period while the host reads; reports the receive thread's
// time on a CPU per line and its share of one core, and the memory the session holds.
// Both baselines stream at the same time from simulators of their own, so that the
// load of a shared machine weighs on all three alike and the ratios hold still.
void BM_StreamingReceiveThread(benchmark::State &state) {
  BenchSim sim;
  if (!sim.ok()) return state.SkipWithError("vorn-sim did not start");
  BaselineStream bare(false), handOff(true);
  if (!bare.ok() || !handOff.ok()) return state.SkipWithError("a baseline stream did not start");
  const long before = ResidentKiB();
  const std::set<pid_t> others = vorn_bench::ThreadIds();
  VornSerial session(QVX::AnsiToWide(sim.Path()), 1, u"1234567");
  if (session.InitialiseSession(session.portName) != 0) return state.SkipWithError("initialisation failed");
  const pid_t receiveTid = vorn_bench::NewThreadSince(others);
  while (!Complete(session)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  char text[32];
  CommandRecord r{text, sizeof text, 0, 0, 0, 0, 0};
  for (int p = 1; p <= 4; ++p) {
    r.argument = p;
    session.ExecuteCommand(VORN_CMD_ENABLE_CHANNEL, &r);
  }
  r.argument = 2000;
  session.ExecuteCommand(VORN_CMD_SELECT_PERIOD, &r);
  session.ExecuteCommand(VORN_CMD_START, &r);
  struct Series {
    double cpu = 0;
    std::uint64_t lines = 0;
    void Add(double cpuSeconds, std::uint64_t count) {
      cpu += cpuSeconds;
      lines += count;
    }
    double PerLine() const { return lines ? 1e6 * cpu / static_cast<double>(lines) : 0; }
  } driver, bareSeries, handOffSeries;
  constexpr auto kWindow = std::chrono::milliseconds(200);
  char line[256];
  double wall = 0;
  const pid_t self = vorn_bench::ThisThreadId();
  vorn_bench::CpuSwap pins;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    while (Clock::now() - t0 < StreamSeconds()) {
      const double cpu0 = ThreadCpuSeconds(receiveTid), bareCpu0 = bare.CpuSeconds(),
                   handOffCpu0 = handOff.CpuSeconds();
      const std::uint64_t bareLines0 = bare.Lines(), handOffLines0 = handOff.Lines();
      std::uint64_t lines = 0;
      // Every window puts the three readers together on one CPU and the threads they
      // wake on the other, and the next window swaps them.
      pins.Next({receiveTid, bare.ReaderTid(), handOff.ReaderTid()}, {self, handOff.HostTid()});
      const auto w0 = Clock::now();
      while (Clock::now() - w0 < kWindow) lines += session.ReadLineFromRing(line, sizeof line, 100);
      driver.Add(ThreadCpuSeconds(receiveTid) - cpu0, lines);
      bareSeries.Add(bare.CpuSeconds() - bareCpu0, bare.Lines() - bareLines0);
      handOffSeries.Add(handOff.CpuSeconds() - handOffCpu0, handOff.Lines() - handOffLines0);
    }
    wall += std::chrono::duration<double>(Clock::now() - t0).count();
  }
  session.ExecuteCommand(VORN_CMD_STOP, &r);
  state.counters["lines_per_s"] = static_cast<double>(driver.lines) / wall;
  state.counters["receive_thread_core_pct"] = 100.0 * driver.cpu / wall;
  state.counters["receive_thread_us_per_line"] = driver.PerLine();
  state.counters["bare_reader_core_pct"] = 100.0 * bareSeries.cpu / wall;
  state.counters["bare_reader_us_per_line"] = bareSeries.PerLine();
  state.counters["handoff_reader_core_pct"] = 100.0 * handOffSeries.cpu / wall;
  state.counters["handoff_reader_us_per_line"] = handOffSeries.PerLine();
  state.counters["session_rss_kib"] = static_cast<double>(ResidentKiB() - before);
}
BENCHMARK(BM_StreamingReceiveThread)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
