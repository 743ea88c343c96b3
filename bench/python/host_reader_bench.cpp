// The C reader the Python package is measured against: the same exports, the
// same block reads every 50 ms, each host line parsed into one row of doubles
// in physical units. Its figure is lines per second of the reading thread's CPU.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/bench_sim.h"
#include "tools/hostlib/vorn_library.h"
#include "vorn.h"

namespace {

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double StreamSeconds() {
  const char *text = std::getenv("VORN_BENCH_STREAM_SECONDS");
  const double s = text ? std::atof(text) : 0;
  return s > 0 ? s : 5;
}

struct Command {
  std::vector<char> text = std::vector<char>(65537, '\0');
  CommandRecord record{};
  bool Run(const vorn_host::VornLibrary &lib, std::uint32_t code, std::int32_t argument = 0) {
    record = CommandRecord{};
    record.textBuffer = text.data();
    record.textLength = 65536;
    record.argument = argument;
    return lib.DeviceCommand(0, code, &record) == 1;
  }
};

// One host line into values; false when it is not "@ " and `count` integers.
bool ParseLine(const char *p, const char *end, std::size_t count, const double *lo, const double *span, double *row) {
  if (end - p < 2 || p[0] != '@' || p[1] != ' ') return false;
  p += 2;
  for (std::size_t i = 0; i < count; ++i) {
    char *after = nullptr;
    const long v = std::strtol(p, &after, 10);
    if (after == p || after > end) return false;
    row[i] = lo[i] + static_cast<double>(v) / 32767.0 * span[i];
    p = after;
    if (p < end && *p == ',') ++p;
  }
  return p == end;
}

void BM_HostReaderCToRows(benchmark::State &state) {
  BenchSim sim({"--periods", "0.0001"});
  if (!sim.ok()) return state.SkipWithError("vorn-sim did not start");
  setenv("VORN_PORTS", sim.PortEntry().c_str(), 1);
  vorn_host::VornLibrary lib;
  std::string error;
  if (!lib.Load(VORN_LIBRARY_PATH, error)) return state.SkipWithError(error.c_str());
  std::int32_t index = -1;
  Command cmd;
  if (lib.FindDevice(&index) != 1 || lib.Initialise(0) != 1 || !cmd.Run(lib, VORN_CMD_LAST_CHANNEL)) {
    lib.CloseAll();
    return state.SkipWithError("the simulated device did not come up");
  }
  const std::size_t channels = static_cast<std::size_t>(cmd.record.intResult);
  std::vector<double> lo(channels), span(channels);
  for (std::size_t c = 0; c < channels; ++c) {
    const auto p = static_cast<std::int32_t>(c + 1);
    cmd.Run(lib, VORN_CMD_CHANNEL_MINIMUM, p);
    lo[c] = cmd.record.floatResult;
    cmd.Run(lib, VORN_CMD_CHANNEL_MAXIMUM, p);
    span[c] = cmd.record.floatResult - lo[c];
    cmd.Run(lib, VORN_CMD_ENABLE_CHANNEL, p);
  }
  cmd.Run(lib, VORN_CMD_PERIOD_LIST);
  cmd.Run(lib, VORN_CMD_SELECT_PERIOD, std::atoi(cmd.text.data()));
  std::vector<char> buffer(65536);
  std::string pending;
  std::vector<double> rows;
  std::size_t lines = 0, bad = 0;
  double cpu = 0;
  for (auto _ : state) {
    cmd.Run(lib, VORN_CMD_START);
    const double cpuStart = ThreadCpuSeconds();
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(StreamSeconds());
    while (std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      const std::int32_t waiting = lib.ReadBuffSize(0);
      if (waiting <= 0 || lib.ReadBuffer(0, buffer.data(), waiting, 0) != 1) continue;
      pending.append(buffer.data(), static_cast<std::size_t>(waiting));
      std::size_t start = 0;
      for (std::size_t feed; (feed = pending.find('\n', start)) != std::string::npos; start = feed + 1) {
        const std::size_t at = rows.size();
        rows.resize(at + channels);
        if (!ParseLine(pending.data() + start, pending.data() + feed, channels, lo.data(), span.data(),
                       rows.data() + at)) {
          ++bad;
        }
        ++lines;
      }
      pending.erase(0, start);
      if (rows.size() > (1u << 22)) rows.clear();
    }
    cpu += ThreadCpuSeconds() - cpuStart;
    cmd.Run(lib, VORN_CMD_STOP);
  }
  lib.CloseAll();
  state.counters["lines"] = static_cast<double>(lines);
  state.counters["malformed"] = static_cast<double>(bad);
  state.counters["reader_cpu_s"] = cpu;
  state.counters["lines_per_s"] = cpu > 0 ? static_cast<double>(lines) / cpu : 0;
}
BENCHMARK(BM_HostReaderCToRows)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
