// Serial transport: ring throughput, host line reads from a full ring, and the
// latency from a byte written at a pty master to ReadLine returning, beside a plain
// poll+read loop on the same pty. Allocations are counted with a replaced operator new.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/alloc_counter.h"
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
  OpenPlotr::Event data;
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
Latency baselineResult, sessionResult;
double sessionAllocsPerLine = -1;

Latency Summarise(std::vector<double> &samples, benchmark::State &state) {
  std::sort(samples.begin(), samples.end());
  Latency l;
  if (samples.empty()) return l;
  l.medianUs = samples[samples.size() / 2];
  l.p99Us = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
  state.counters["median_us"] = l.medianUs;
  state.counters["p99_us"] = l.p99Us;
  return l;
}

constexpr char kSample[] = "@ 1,2\n";

// A plain poll+read loop on the pty slave, as a program without our layers would wait.
void LatencyBaselinePollRead(benchmark::State &state) {
  Pty pty;
  const int fd = open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(state.max_iterations));
  char buffer[256];
  for (auto _ : state) {
    const auto start = Clock::now();
    if (write(pty.master, kSample, sizeof kSample - 1) < 0) state.SkipWithError("write failed");
    bool lineSeen = false;
    while (!lineSeen) {
      pollfd p{fd, POLLIN, 0};
      poll(&p, 1, 1000);
      const ssize_t n = read(fd, buffer, sizeof buffer);
      lineSeen = n > 0 && std::memchr(buffer, '\n', static_cast<std::size_t>(n));
    }
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    state.SetIterationTime(us / 1e6);
    samples.push_back(us);
  }
  close(fd);
  baselineResult = Summarise(samples, state);
}
BENCHMARK(LatencyBaselinePollRead)->UseManualTime()->Iterations(3000);

// The session's receive thread, ring and ReadLine on a pty of the same kind.
void LatencyReceiveThreadToReadLine(benchmark::State &state) {
  Pty pty;
  auto session = std::make_unique<OpenPlotr::VornSerial>(std::u16string(pty.path.begin(), pty.path.end()), 1, u"VSC0");
  RingSink sink;
  sink.session = session.get();
  session->SetChunkSink(&sink);
  if (session->StartTransport(session->portName) != QVX::kStatusOk) {
    state.SkipWithError("the session did not start");
    return;
  }
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(state.max_iterations));
  char buffer[128];
  // Warm up: the first chunk and line may touch lazily made state.
  write(pty.master, kSample, sizeof kSample - 1);
  session->ReadLineFromRing(buffer, sizeof buffer, 1000);
  const std::uint64_t before = vorn_bench::AllocationCount();
  for (auto _ : state) {
    const auto start = Clock::now();
    if (write(pty.master, kSample, sizeof kSample - 1) < 0) state.SkipWithError("write failed");
    if (session->ReadLineFromRing(buffer, sizeof buffer, 1000) != 1) state.SkipWithError("no line");
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    state.SetIterationTime(us / 1e6);
    samples.push_back(us);
  }
  sessionAllocsPerLine = static_cast<double>(vorn_bench::AllocationCount() - before) / static_cast<double>(samples.size());
  state.counters["allocs_per_line"] = sessionAllocsPerLine;
  sessionResult = Summarise(samples, state);
  session.reset();
}
BENCHMARK(LatencyReceiveThreadToReadLine)->UseManualTime()->Iterations(3000);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (baselineResult.medianUs > 0 && sessionResult.medianUs > 0) {
    std::printf("\npty byte to line, median: session %.1f us, poll+read %.1f us, ratio %.2f, added %.1f us (goal < 1000)\n",
                sessionResult.medianUs, baselineResult.medianUs, sessionResult.medianUs / baselineResult.medianUs,
                sessionResult.medianUs - baselineResult.medianUs);
    std::printf("pty byte to line, p99:    session %.1f us, poll+read %.1f us, ratio %.2f\n", sessionResult.p99Us,
                baselineResult.p99Us, sessionResult.p99Us / baselineResult.p99Us);
    std::printf("heap allocations per line in steady state (chunk read, ring, ReadLine): %.3f (goal 0)\n",
                sessionAllocsPerLine);
  }
  return 0;
}
