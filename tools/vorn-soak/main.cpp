// vorn-soak: the driver's fault soak and load test. It loads the library by
// name as a host does, drives it against vorn-sim devices (healthy, vanishing,
// silent, faulty, overfilled, eight at once), checks every delivered "@ " line
// against the simulator's sent log and watches threads, descriptors and
// resident memory for growth.
#include <malloc.h>
#include <stdlib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tools/vorn-soak/options.h"
#include "tools/vorn-soak/report.h"
#include "tools/vorn-soak/result.h"
#include "tools/vorn-soak/scenarios.h"
#include "tools/vorn-soak/sim_device.h"

int main(int argc, char **argv) {
  using namespace vorn_soak;
  Options o;
  if (const int status = ParseOptions(argc, argv, o); status >= 0) return status;
  using Run = std::function<void(long, Result &)>;
  std::map<std::string, Run> runs{
      {"cycles", [&](long n, Result &r) { Cycles(o, n, r); }},
      {"vanish", [&](long n, Result &r) { Vanish(o, n, r); }},
      {"silent", [&](long n, Result &r) { Silent(o, n, r); }},
      {"overflow", [&](long n, Result &r) { Overflow(o, n, r); }},
      {"loadunload", [&](long n, Result &r) { LoadUnload(o, n, r); }},
      {"load", [&](long n, Result &r) { Load(o, n, r); }},
  };
  for (const char *mode : kFaultModes) runs[mode] = [&o, mode](long n, Result &r) { FaultMode(o, mode, n, r); };
  std::vector<std::pair<std::string, long>> plan;
  for (const auto &[name, count] : o.scenarios) {
    if (name == "faults") {
      for (const char *mode : kFaultModes) plan.emplace_back(mode, count);
    } else if (runs.count(name)) {
      plan.emplace_back(name, count);
    } else {
      std::fprintf(stderr, "vorn-soak: unknown scenario %s\n%s", name.c_str(), kUsage);
      return 2;
    }
  }

  // One allocator arena for every thread: freed memory then goes back where a
  // measurement sees it, and a growing footprint means something is still held.
  mallopt(M_ARENA_MAX, 1);

  char tmp[] = "/tmp/vorn-soak-XXXXXX";
  if (!mkdtemp(tmp)) {
    std::perror("vorn-soak: mkdtemp");
    return 1;
  }
  SetScratchFolder(tmp);

  // A hang inside the driver must end the run with a report instead of stalling the caller.
  std::atomic<long> deadlineSeconds{0};
  std::atomic<bool> finished{false};
  std::atomic<const char *> current{""};  // names in plan, which outlives the watchdog
  std::thread watchdog([&] {
    const auto start = Clock::now();
    while (!finished) {
      SleepMs(200);
      const long limit = deadlineSeconds.load();
      if (limit > 0 && Clock::now() - start > std::chrono::seconds(limit)) {
        std::fprintf(stderr, "vorn-soak: HANG: scenario %s ran past its bound of %ld s\n", current.load(), limit);
        std::fflush(stderr);
        std::_Exit(3);
      }
    }
  });

  std::vector<Result> results;
  bool passed = true;
  long bound = 0;
  for (const auto &[name, count] : plan) {
    Result r;
    r.name = name;
    r.requested = count;
    current = name.c_str();
    // Generous: several times what the scenario needs on a loaded machine.
    bound += 120 + count * (name == "silent" ? 30 : name == "overflow" ? 20 : name == "vanish" ? 5 : 3);
    deadlineSeconds = bound;
    std::printf("=== %s %ld\n", name.c_str(), count);
    std::fflush(stdout);
    const auto t0 = Clock::now();
    runs[name](count, r);
    r.seconds = Seconds(Clock::now() - t0);
    if (r.survived < r.requested && r.failures.empty()) r.Fail("only " + std::to_string(r.survived) + " survived");
    if (r.before.threads > 0) CompareResources(r);
    passed = passed && r.failures.empty();
    std::printf("    %s in %.1f s: %ld/%ld survived, %ld lines checked\n", r.failures.empty() ? "ok" : "FAILED",
                r.seconds, r.survived, r.requested, r.linesChecked);
    std::fflush(stdout);
    results.push_back(std::move(r));
  }
  finished = true;
  watchdog.join();
  PrintTable(results);
  if (!WriteJson(o.json, results, passed)) std::fprintf(stderr, "vorn-soak: cannot write %s\n", o.json.c_str());
  else std::printf("\nresults: %s\n", o.json.c_str());
  std::error_code ec;
  if (std::getenv("VORN_SOAK_KEEP")) std::printf("scratch kept: %s\n", tmp);
  else std::filesystem::remove_all(tmp, ec);
  return passed ? 0 : 1;
}
