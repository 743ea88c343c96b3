#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/vorn-soak/host_session.h"
#include "tools/vorn-soak/scenarios.h"

namespace vorn_soak {

// FindDevice/Initialise/CloseAll against one device; every 50th cycle also streams and checks.
void Cycles(const Options &o, long n, Result &r) {
  r.unit = "cycles";
  std::string error;
  auto sim = StartSim({}, {}, error);
  if (!sim) return r.Fail(error);
  VornLibrary lib;
  if (!LoadLibrary(lib, o, r)) return;
  Host host{lib};
  SetPorts(sim->PortEntry());
  auto cycle = [&](long i) {
    const std::string where = "cycle " + std::to_string(i);
    const std::int32_t index = host.FindAndInitialise(error);
    bool ok = index >= 0;
    if (!ok) r.Fail(where + ": " + error);
    if (ok && i % 50 == 0) ok = StreamChecked(host, *sim, index, std::chrono::milliseconds(100), true, r, where);
    if (lib.CloseAll() != 1) {
      r.Fail(where + ": CloseAll failed");
      ok = false;
    }
    return ok;
  };
  for (long i = -3; i < 0; ++i) cycle(i);  // warm-up
  r.before = MeasureResources();
  for (long i = 0; i < n; ++i) r.survived += cycle(i);
  r.after = Settled(r.before);
  lib.Unload();
}

// The device vanishes mid-stream and comes back on a new pty behind the same link.
void Vanish(const Options &o, long n, Result &r) {
  r.unit = "cycles";
  r.faultUnit = "port vanishings (simulator trace)";
  std::string error;
  auto sim =
      StartSim({}, {"--fault", "vanish-each=40", "--vanish-action", "reopen", "--reopen-delay-ms", "30"}, error, true);
  if (!sim) return r.Fail(error);
  VornLibrary lib;
  if (!LoadLibrary(lib, o, r)) return;
  Host host{lib};
  SetPorts(sim->PortEntry());
  char buffer[kReadBuffer];
  auto cycle = [&](long i) {
    const std::string where = "cycle " + std::to_string(i);
    // The device comes back after its reopen delay: try again for a bounded time.
    std::int32_t index = -1;
    const auto giveUp = Clock::now() + std::chrono::seconds(5);
    while ((index = host.FindAndInitialise(error)) < 0 && Clock::now() < giveUp) {
      lib.CloseAll();
      SleepMs(10);
    }
    if (index < 0) {
      r.Fail(where + ": device not found again: " + error);
      lib.CloseAll();
      return false;
    }
    const std::vector<int> enabled = StartStream(host, *sim, index, r, where);
    bool ok = !enabled.empty();
    std::vector<std::string> delivered;
    const auto bound = Clock::now() + std::chrono::seconds(10);
    bool failed = false;
    while (ok && Clock::now() < bound) {
      if (lib.ReadLine(index, buffer, sizeof buffer, 100) == 1) {
        delivered.push_back(std::string(buffer) + "\n");  // ReadLine takes the line end off
      } else if (lib.IsFailed(index) == 1) {
        failed = true;
        break;
      }
    }
    if (ok && !failed) r.Fail(where + ": the vanished device was not reported failed within 10 s");
    // A failed device delivers what it had, then nothing.
    Drain(lib, index, delivered, 0);
    if (ok && lib.ReadLine(index, buffer, sizeof buffer, 50) == 1) r.Fail(where + ": ReadLine delivered after the end");
    if (lib.CloseAll() != 1) r.Fail(where + ": CloseAll failed");
    SleepMs(5);
    if (ok && delivered.empty()) r.Fail(where + ": no line before the vanish");
    // Lines written just before the port went may be lost with it; the rest must be whole and in order.
    ok = Check(*sim, enabled, delivered, false, r, where).ok && ok && failed && !delivered.empty();
    return ok;
  };
  for (long i = -2; i < 0; ++i) cycle(i);
  r.before = MeasureResources();
  const long vanishedBefore = sim->TraceCount("port vanishes");
  for (long i = 0; i < n; ++i) r.survived += cycle(i);
  r.after = Settled(r.before);
  r.faults = sim->TraceCount("port vanishes") - vanishedBefore;
  lib.Unload();
}

// A device that never answers: Initialise fails cleanly, in bounded time, with a text.
void Silent(const Options &o, long n, Result &r) {
  r.unit = "initialisations";
  r.faultUnit = "initialisations refused";
  std::string error;
  auto sim = StartSim({}, {"--fault", "silent"}, error);
  if (!sim) return r.Fail(error);
  VornLibrary lib;
  if (!LoadLibrary(lib, o, r)) return;
  Host host{lib};
  SetPorts(sim->PortEntry());
  double longest = 0;
  auto cycle = [&](long i) {
    const std::string where = "attempt " + std::to_string(i);
    std::int32_t index = -1;
    if (lib.FindDevice(&index) != 1) {
      r.Fail(where + ": FindDevice found no device");
      return false;
    }
    const auto t0 = Clock::now();
    const std::int32_t rc = lib.Initialise(index);
    const double took = Seconds(Clock::now() - t0);
    longest = std::max(longest, took);
    bool ok = true;
    if (rc != 0) {
      r.Fail(where + ": Initialise of a silent device returned " + std::to_string(rc));
      ok = false;
    }
    // The S loop (5 s) and the version wait (15 s) both run out before a silent device is given up.
    if (took > 25.0) {
      r.Fail(where + ": Initialise took " + std::to_string(took) + " s");
      ok = false;
    }
    const std::string message = host.GeneralMessage();
    if (message.empty()) {
      r.Fail(where + ": no error text");
      ok = false;
    }
    if (lib.IsFailed(index) != 1) {
      r.Fail(where + ": IsFailed is not set");
      ok = false;
    }
    char buffer[64];
    if (lib.ReadLine(index, buffer, sizeof buffer, 50) == 1) r.Fail(where + ": a line from a silent device");
    if (lib.CloseAll() != 1) r.Fail(where + ": CloseAll failed");
    if (i == 0) r.notes.push_back("error text: " + message);
    r.faults += ok;
    return ok;
  };
  // Each attempt takes about 20 s: with more than one, the first is the warm-up.
  long i = 0;
  if (n > 1) r.survived += cycle(i++);
  r.before = MeasureResources();
  if (n <= 1) r.notes.push_back("no warm-up attempt: before measured with the library loaded, no session yet");
  for (; i < n; ++i) r.survived += cycle(i);
  r.after = Settled(r.before);
  char took[64];
  std::snprintf(took, sizeof took, "longest Initialise %.2f s", longest);
  r.notes.push_back(took);
  lib.Unload();
}

// Loads and unloads the library; every tenth load also finds, initialises, streams briefly and closes.
void LoadUnload(const Options &o, long n, Result &r) {
  r.unit = "loads";
  std::string error;
  auto sim = StartSim({}, {}, error);
  if (!sim) return r.Fail(error);
  SetPorts(sim->PortEntry());
  auto loop = [&](long i) {
    const std::string where = "load " + std::to_string(i);
    VornLibrary lib;
    if (!lib.Load(o.library, error)) {
      r.Fail(where + ": " + error);
      return false;
    }
    bool ok = lib.ResolvedCount() == 16;
    if (!ok) r.Fail(where + ": " + std::to_string(lib.ResolvedCount()) + " exports resolved");
    if (ok && i % 10 == 0) {
      Host host{lib};
      const std::int32_t index = host.FindAndInitialise(error);
      if (index < 0) {
        r.Fail(where + ": " + error);
        ok = false;
      } else {
        ok = StreamChecked(host, *sim, index, std::chrono::milliseconds(60), true, r, where);
      }
      if (lib.CloseAll() != 1) r.Fail(where + ": CloseAll failed");
    }
    lib.Unload();
    return ok;
  };
  for (long i = -10; i < 0; ++i) loop(i);
  r.before = MeasureResources();
  for (long i = 0; i < n; ++i) r.survived += loop(i);
  r.after = Settled(r.before);
}

}  // namespace vorn_soak
