// Decode cost per data line against what the wire can deliver, and heap
// allocations per line in steady state.
#include <benchmark/benchmark.h>

#include "common/alloc_counter.h"
#include "device/protocol/line_assembler.h"
#include "device/protocol/protocol_router.h"

namespace {

using namespace OpenPlotr;

class NullSinks : public CommandSink, public HostLineSink {
 public:
  bool SendCommand(char) override { return true; }
  void SendFieldMask(const std::vector<bool> &) override {}
  bool SendPeriodEntry(std::int32_t) override { return true; }
  bool PushLine(const char *, std::size_t n) override {
    bytes += n;
    return true;
  }
  std::size_t bytes = 0;
};

// One data line of a five-field device as it arrives, CR LF included.
constexpr char kLine[] = "123456,0.8125,-14.25,97.50,36.60\r\n";

void BM_DecodeDataLine(benchmark::State &state) {
  ProtocolState protocol;
  auto c = std::make_shared<DeviceConfiguration>();
  c->channelNames = {u"Count", u"ECG", u"Resp", u"SpO2", u"Temp"};
  c->channelMaxima = {32767, 5, 50, 100, 45};
  c->channelMinima = {-32767, -5, -50, 0, 30};
  c->pendingLists = 0;
  protocol.configuration.store(c);
  protocol.enabledChannels.store(std::make_shared<const EnabledChannels>(EnabledChannels{1, 2, 3, 4}));
  protocol.fieldCount = 5;
  protocol.downloadState = kDownloadDone;
  protocol.streaming = true;
  NullSinks sinks;
  ProtocolRouter router(protocol, sinks, sinks);
  LineAssembler assembler(router);
  const auto *bytes = reinterpret_cast<const std::uint8_t *>(kLine);
  const std::size_t n = sizeof kLine - 1;
  for (int i = 0; i < 100; ++i) assembler.AssembleLines(bytes, n);  // warm the reused buffers

  const std::uint64_t before = vorn_bench::AllocationCount();
  for (auto _ : state) {
    assembler.AssembleLines(bytes, n);
  }
  const double allocations = static_cast<double>(vorn_bench::AllocationCount() - before);
  const double lines = static_cast<double>(state.iterations());
  state.counters["allocs_per_line"] = allocations / lines;
  // 115200 baud 8N1 carries 11520 bytes/s: the time one such line needs on the wire.
  const double wireSecondsPerLine = static_cast<double>(n) / 11520.0;
  state.counters["wire_lines_per_s"] = 1.0 / wireSecondsPerLine;
  state.counters["lines_per_s"] = benchmark::Counter(lines, benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<std::int64_t>(lines * n));
  benchmark::DoNotOptimize(sinks.bytes);
}
BENCHMARK(BM_DecodeDataLine);

}  // namespace

BENCHMARK_MAIN();
