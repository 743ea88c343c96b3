// The configuration snapshot's lock under the one order that hurts: the receive
// thread, above the host's priority, replaces the snapshot while a host thread
// on the same CPU holds the lock to copy it. A lock that spins keeps the CPU
// from the holder until the system steps in (on Windows a starvation boost,
// seconds; here the real-time throttle); a lock that blocks hands it over.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "device/protocol/snapshot.h"

namespace vorn_test {
namespace {

using Clock = std::chrono::steady_clock;
using OpenPlotr::Snapshot;

bool PinToFirstCpu() {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(0, &set);
  return sched_setaffinity(0, sizeof set, &set) == 0;
}

// Strict priority over the host thread, as THREAD_PRIORITY_ABOVE_NORMAL has on Windows.
bool RaiseAboveNormalThreads() {
  const sched_param fifo{1};
  return sched_setscheduler(0, SCHED_FIFO, &fifo) == 0;
}

TEST(SnapshotLock, AWriterAboveTheReaderOnOneCpuNeverWaitsLong) {
  {
    std::atomic<bool> allowed{false};
    std::thread probe([&] { allowed = PinToFirstCpu() && RaiseAboveNormalThreads(); });
    probe.join();
    if (!allowed) GTEST_SKIP() << "this user may not pin threads or give one real-time priority";
  }
  Snapshot<std::vector<int>> snapshot;
  snapshot.store(std::make_shared<const std::vector<int>>(16, 1));

  std::atomic<bool> done{false};
  std::atomic<std::int64_t> storingSinceNs{0};
  std::atomic<pid_t> writerTid{0};
  std::atomic<std::int64_t> longestNs{0};
  std::atomic<long> reads{0};

  std::thread reader([&] {
    PinToFirstCpu();
    while (!done) {
      const auto value = snapshot.load();
      if (value && !value->empty()) ++reads;
    }
  });
  std::thread writer([&] {
    writerTid = static_cast<pid_t>(syscall(SYS_gettid));
    PinToFirstCpu();
    RaiseAboveNormalThreads();
    for (int i = 0; i < 3000 && !done; ++i) {
      // Sleeps as a receive thread waits for the port; waking preempts the reader anywhere.
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      const auto t0 = Clock::now();
      storingSinceNs = t0.time_since_epoch().count();
      snapshot.store(std::make_shared<const std::vector<int>>(16, i));
      storingSinceNs = 0;
      const std::int64_t waited = (Clock::now() - t0).count();
      if (waited > longestNs) longestNs = waited;
    }
    done = true;
  });

  // A spinning writer would hold the CPU for good where the throttle lets it borrow
  // the other CPU's share: past this, it is put back among normal threads.
  bool demoted = false;
  while (!done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::int64_t since = storingSinceNs;
    if (!demoted && since && Clock::now().time_since_epoch().count() - since > 3'000'000'000LL) {
      const sched_param normal{0};
      sched_setscheduler(writerTid, SCHED_OTHER, &normal);
      demoted = true;
      done = true;
    }
  }
  writer.join();
  reader.join();
  EXPECT_FALSE(demoted) << "the writer spun for 3 s and had to be taken off real-time priority";
  EXPECT_GT(reads.load(), 0);
  // Generous for a machine shared with other work: the holder waits its turn among
  // normal threads, not behind the writer.
  EXPECT_LT(longestNs.load(), 500'000'000LL) << "longest store: " << longestNs.load() / 1000000 << " ms";
}

}  // namespace
}  // namespace vorn_test
