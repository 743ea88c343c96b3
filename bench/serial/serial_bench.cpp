// Serial transport: ring throughput, host line reads from a full ring, and the
// latency from a byte written at a pty master to ReadLine returning, beside a plain
// poll+read loop and a poll+read thread that hands its chunks to a waiting thread.
// Allocations are counted with a replaced operator new.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/alloc_counter.h"
#include "common/chunk_reader.h"
#include "common/cpu_pinning.h"
#include "device/vorn_serial.h"
#include "serial/event_thread.h"
#include "serial/host_reads.h"
#include "serial/receive_ring.h"

namespace {

using Clock = std::chrono::steady_clock;
using OpenPlotr::ReceiveRing;

constexpr char kLine[] = "@ 16384,20311,9,32767,0,12000,777,31000\n";
constexpr std::int32_t kLineBytes = sizeof kLine - 1;

void RingPushTake(benchmark::State &state) {
  ReceiveRing ring;
  char out[4096];
  const std::uint64_t before = vorn_bench::AllocationCount();
  std::int64_t lines = 0;
  for (auto _ : state) {
    for (int i = 0; i < 64; ++i) ring.PushLine(kLine, kLineBytes);
    benchmark::DoNotOptimize(ring.Take(out, sizeof out));
    lines += 64;
  }
  state.SetBytesProcessed(lines * kLineBytes);
  state.counters["allocs_per_line"] = static_cast<double>(vorn_bench::AllocationCount() - before) / lines;
}
BENCHMARK(RingPushTake);

void RingPushByteTakeByte(benchmark::State &state) {
  ReceiveRing ring;
  char out;
  std::int64_t bytes = 0;
  for (auto _ : state) {
    for (int i = 0; i < 256; ++i) ring.PushByte(static_cast<std::uint8_t>(i));
    for (int i = 0; i < 256; ++i) benchmark::DoNotOptimize(ring.Take(&out, 1));
    bytes += 256;
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(RingPushByteTakeByte);

void ReadLineFromFullRing(benchmark::State &state) {
  ReceiveRing ring;
  OpenPlotr::DataEvent data;
  char buffer[128];
  auto fill = [&] {
    while (ring.PushLine(kLine, kLineBytes)) {
    }
  };
  fill();
  const std::uint64_t before = vorn_bench::AllocationCount();
  std::int64_t lines = 0;
  for (auto _ : state) {
    if (ring.BytesWaiting() < kLineBytes) {
      state.PauseTiming();
      fill();
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(OpenPlotr::ReadLineFromRing(&ring, data, buffer, sizeof buffer, 0));
    ++lines;
  }
  state.SetItemsProcessed(lines);
  state.counters["allocs_per_line"] = static_cast<double>(vorn_bench::AllocationCount() - before) / lines;
}
BENCHMARK(ReadLineFromFullRing);

// ---- latency over a pty ----

struct Pty {
  int master = -1;
  int slave = -1;
  std::string path;
  Pty() {
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    path = name;
  }
  ~Pty() {
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
  }
};

class RingSink final : public OpenPlotr::ChunkSink {
 public:
  QVX::Status HandleChunk(const char *bytes, std::int32_t count) override {
    session->PushLine(bytes, count);
    return QVX::kStatusOk;
  }
  OpenPlotr::VornSerial *session = nullptr;
};

struct Latency {
  double medianUs = 0;
  double p99Us = 0;
};
Latency pollReadResult, handOffResult, sessionResult;
double sessionAllocsPerLine = -1;

Latency Summarise(std::vector<double> &samples) {
  std::sort(samples.begin(), samples.end());
  Latency l;
  if (samples.empty()) return l;
  l.medianUs = samples[samples.size() / 2];
  l.p99Us = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
  return l;
}

constexpr char kSample[] = "@ 1,2\n";

double MicrosecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Baseline 1: a plain poll+read loop on the pty slave, as a program without our layers
// would wait, on the writing thread itself.
class PollReadPath {
 public:
  explicit PollReadPath(const std::string &path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
  ~PollReadPath() {
    if (fd_ >= 0) close(fd_);
  }
  bool WaitForLine() {
    char buffer[256];
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 1000) <= 0) return false;
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n > 0 && std::memchr(buffer, '\n', static_cast<std::size_t>(n))) return true;
    }
  }

 private:
  const int fd_;
};

// Baseline 2: the same poll+read loop on a thread of its own, handing every chunk to
// the writing thread, which waits on an event as a host waits in ReadLine: what any
// design that gives lines to a host thread pays, the wake-up of a thread on the other
// core included.
class HandOffPath {
 public:
  explicit HandOffPath(const std::string &path)
      : port_{open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)}, reader_(port_.fd, true) {}
  pid_t ReaderTid() const { return reader_.ReaderTid(); }
  bool WaitForLine() {
    ++expected_;
    while (reader_.Lines() < expected_) {
      pollfd p{reader_.Event(), POLLIN, 0};
      std::uint64_t taken = 0;
      if (poll(&p, 1, 1000) <= 0 || read(reader_.Event(), &taken, sizeof taken) < 0) return false;
    }
    return true;
  }

 private:
  // Closed after the reader has stopped (members go in reverse order).
  struct Port {
    int fd;
    ~Port() {
      if (fd >= 0) close(fd);
    }
  } port_;
  vorn_bench::ChunkReader reader_;
  std::uint64_t expected_ = 0;
};

// From a byte written at a pty master to the line in the reader's hands: the session's
// receive thread, ring and ReadLine, beside both baselines on ptys of the same kind.
// The three take turns sample by sample, so that the load of a shared machine weighs
// on all of them alike. Threads hardly ever migrate here and the two CPUs of a shared
// machine differ in what a wake-up costs, so every 100 rounds the reading threads and
// the writing thread are pinned to opposite CPUs, and swapped the next time.
void LatencyReceiveThreadToReadLine(benchmark::State &state) {
  Pty sessionPty, pollReadPty, handOffPty;
  const std::set<pid_t> before = vorn_bench::ThreadIds();
  auto session = std::make_unique<OpenPlotr::VornSerial>(std::u16string(sessionPty.path.begin(), sessionPty.path.end()),
                                                         1, u"VSC0");
  RingSink sink;
  sink.session = session.get();
  session->SetChunkSink(&sink);
  if (session->StartTransport(session->portName) != QVX::kStatusOk) {
    state.SkipWithError("the session did not start");
    return;
  }
  const pid_t receiveTid = vorn_bench::NewThreadSince(before);
  PollReadPath pollRead(pollReadPty.path);
  HandOffPath handOff(handOffPty.path);
  std::vector<double> sessionUs, pollReadUs, handOffUs;
  const auto rounds = static_cast<std::size_t>(state.max_iterations);
  sessionUs.reserve(rounds);
  pollReadUs.reserve(rounds);
  handOffUs.reserve(rounds);
  char buffer[128];
  // Warm up: the first chunk and line may touch lazily made state.
  write(sessionPty.master, kSample, sizeof kSample - 1);
  session->ReadLineFromRing(buffer, sizeof buffer, 1000);
  const pid_t self = vorn_bench::ThisThreadId();
  vorn_bench::CpuSwap pins;
  std::uint64_t round = 0;
  std::uint64_t allocations = 0;
  for (auto _ : state) {
    if (round % 100 == 0) pins.Next({receiveTid, handOff.ReaderTid()}, {self});
    ++round;
    auto start = Clock::now();
    if (write(pollReadPty.master, kSample, sizeof kSample - 1) < 0 || !pollRead.WaitForLine()) {
      state.SkipWithError("no line on the plain poll+read");
      break;
    }
    pollReadUs.push_back(MicrosecondsSince(start));
    start = Clock::now();
    if (write(handOffPty.master, kSample, sizeof kSample - 1) < 0 || !handOff.WaitForLine()) {
      state.SkipWithError("no line handed off");
      break;
    }
    handOffUs.push_back(MicrosecondsSince(start));
    const std::uint64_t allocations0 = vorn_bench::AllocationCount();
    start = Clock::now();
    if (write(sessionPty.master, kSample, sizeof kSample - 1) < 0 ||
        session->ReadLineFromRing(buffer, sizeof buffer, 1000) != 1) {
      state.SkipWithError("no line from the session");
      break;
    }
    const double us = MicrosecondsSince(start);
    allocations += vorn_bench::AllocationCount() - allocations0;
    state.SetIterationTime(us / 1e6);
    sessionUs.push_back(us);
  }
  sessionAllocsPerLine =
      sessionUs.empty() ? -1 : static_cast<double>(allocations) / static_cast<double>(sessionUs.size());
  sessionResult = Summarise(sessionUs);
  pollReadResult = Summarise(pollReadUs);
  handOffResult = Summarise(handOffUs);
  state.counters["allocs_per_line"] = sessionAllocsPerLine;
  state.counters["median_us"] = sessionResult.medianUs;
  state.counters["p99_us"] = sessionResult.p99Us;
  state.counters["poll_read_median_us"] = pollReadResult.medianUs;
  state.counters["poll_read_p99_us"] = pollReadResult.p99Us;
  state.counters["handoff_median_us"] = handOffResult.medianUs;
  state.counters["handoff_p99_us"] = handOffResult.p99Us;
  session.reset();
}
BENCHMARK(LatencyReceiveThreadToReadLine)->UseManualTime()->Iterations(3000);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (sessionResult.medianUs > 0 && pollReadResult.medianUs > 0 && handOffResult.medianUs > 0) {
    std::printf(
        "\npty byte to line, median: session %.1f us; plain poll+read %.1f us (ratio %.2f); poll+read handing "
        "off to a waiting thread %.1f us (ratio %.2f, goal <= 1.10)\n",
        sessionResult.medianUs, pollReadResult.medianUs, sessionResult.medianUs / pollReadResult.medianUs,
        handOffResult.medianUs, sessionResult.medianUs / handOffResult.medianUs);
    std::printf("pty byte to line, p99:    session %.1f us; plain poll+read %.1f us; handing off %.1f us\n",
                sessionResult.p99Us, pollReadResult.p99Us, handOffResult.p99Us);
    std::printf("heap allocations per line in steady state (chunk read, ring, ReadLine): %.3f (goal 0)\n",
                sessionAllocsPerLine);
  }
  return 0;
}
