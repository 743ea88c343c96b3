// The ring under a real producer and consumer thread (run under TSan in the tsan build).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "serial/event_thread.h"
#include "serial/host_reads.h"
#include "serial/receive_ring.h"

namespace vorn_test {
namespace {

using OpenPlotr::ReceiveRing;

std::uint8_t Pattern(std::uint64_t i) { return static_cast<std::uint8_t>((i * 131u + (i >> 8)) & 0xFF); }

TEST(RingThreaded, MillionsOfBytesPassWithoutLossReorderOrDuplication) {
  constexpr std::uint64_t kTotal = 6'000'000;
  ReceiveRing ring;
  std::thread producer([&] {
    std::uint64_t next = 0;
    char chunk[97];
    while (next < kTotal) {
      // Mixed single bytes and whole lines, as the decoders push them.
      if (next % 3 == 0) {
        if (ring.PushByte(Pattern(next))) ++next;
        else std::this_thread::yield();
        continue;
      }
      const std::uint64_t n = std::min<std::uint64_t>(sizeof chunk, kTotal - next);
      for (std::uint64_t k = 0; k < n; ++k) chunk[k] = static_cast<char>(Pattern(next + k));
      if (ring.PushLine(chunk, static_cast<std::int32_t>(n))) next += n;
      else std::this_thread::yield();
    }
  });
  std::uint64_t seen = 0;
  std::uint64_t mismatches = 0;
  std::vector<char> out(5000);
  while (seen < kTotal) {
    const std::int32_t got = ring.Take(out.data(), static_cast<std::int32_t>(out.size()));
    if (got == 0) {
      std::this_thread::yield();
      continue;
    }
    for (std::int32_t k = 0; k < got; ++k) mismatches += static_cast<std::uint8_t>(out[k]) != Pattern(seen + k);
    seen += static_cast<std::uint64_t>(got);
  }
  producer.join();
  EXPECT_EQ(mismatches, 0u);
  EXPECT_EQ(ring.BytesWaiting(), 0);
}

// Two threads that wake each other in turn: a wake-up lost between a reader's last look
// and its sleep would leave one of them waiting for the whole bound.
TEST(DataEventThreaded, EverySignalReachesAReaderThatWaits) {
  OpenPlotr::DataEvent ping, pong;
  constexpr int kRounds = 20000;
  std::atomic<int> missed{0};
  std::thread other([&] {
    for (int i = 0; i < kRounds; ++i) {
      if (ping.Wait(5000) != OpenPlotr::WaitOutcome::kFirst) ++missed;
      pong.Set();
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    ping.Set();
    if (pong.Wait(i % 2 ? OpenPlotr::kWaitForever : 5000) != OpenPlotr::WaitOutcome::kFirst) ++missed;
  }
  other.join();
  EXPECT_EQ(missed.load(), 0);
}

TEST(RingThreaded, FlushesDuringAppendsNeverCutALine) {
  ReceiveRing ring;
  OpenPlotr::DataEvent data;
  std::atomic<bool> done{false};
  std::thread producer([&] {
    char line[32];
    for (int i = 0; i < 200000; ++i) {
      const int n = std::snprintf(line, sizeof line, "@ %d,%d\n", i, i * 7);
      if (ring.PushLine(line, n)) data.Set();
      if (i % 64 == 0) std::this_thread::yield();
    }
    done = true;
    data.Set();
  });
  int lines = 0;
  int last = -1;
  int bad = 0;
  char buffer[64];
  while (!done || ring.BytesWaiting() > 0) {
    if (lines % 50 == 49) OpenPlotr::FlushRing(&ring);
    if (OpenPlotr::ReadLineFromRing(&ring, data, buffer, sizeof buffer, 20) != 1) continue;
    int a = 0, b = 0;
    if (std::sscanf(buffer, "@ %d,%d", &a, &b) != 2 || b != a * 7 || a <= last) ++bad;
    last = a;
    ++lines;
  }
  producer.join();
  EXPECT_EQ(bad, 0);
  EXPECT_GT(lines, 0);
}

}  // namespace
}  // namespace vorn_test
