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

// A faulty line streaming for a bounded time; every data line must still arrive whole and in order.
void FaultMode(const Options &o, const std::string &mode, long seconds, Result &r) {
  r.unit = "seconds";
  std::string error;
  std::vector<std::string> run{"--fault", mode};
  const bool junk = mode == "garbage" || mode == "overlong" || mode == "high-bytes";
  if (junk) run.insert(run.end(), {"--fault-every", "10"});
  // Half a second of data per burst, so that every one-second session sees one.
  if (mode == "burst") run.back() = "burst=8192";
  auto sim = StartSim({"--profile", "crc"}, run, error);
  if (!sim) return r.Fail(error);
  VornLibrary lib;
  if (!LoadLibrary(lib, o, r)) return;
  Host host{lib};
  SetPorts(sim->PortEntry());
  const std::int32_t index = host.FindAndInitialise(error);
  if (index < 0) {
    r.Fail(error);
    lib.CloseAll();
    return;
  }
  // A burst comes only every half second.
  StreamChecked(host, *sim, index, std::chrono::milliseconds(mode == "burst" ? 1000 : 300), true, r, "warm-up");
  r.before = MeasureResources();
  long sent = 0;
  const auto start = Clock::now();
  // One session per second keeps the start and stop paths in the soak too.
  for (long s = 0; s < seconds; ++s) {
    long n = 0;
    if (StreamChecked(host, *sim, index, std::chrono::seconds(1), true, r, "second " + std::to_string(s), &n)) {
      ++r.survived;
    }
    sent += n;
    if (Clock::now() - start > std::chrono::seconds(seconds * 3 + 10)) {
      r.Fail("ran over its time bound");
      break;
    }
  }
  // Measured with the session still open, as before.
  r.after = Settled(r.before);
  if (lib.CloseAll() != 1) r.Fail("CloseAll failed");
  lib.Unload();
  // The cadence of the injected faults is known from the lines the device sent.
  if (junk) {
    r.faults = sent / 10;
    r.faultUnit = mode + " lines (one per 10 data lines)";
  } else if (mode == "missing") {
    r.faults = sent / 7;
    r.faultUnit = "'*' values (one per 7 data lines)";
  } else if (mode == "burst") {
    r.faults = sent;
    r.faultUnit = "data lines held back and written in bursts";
  } else {
    r.faults = sent;
    r.faultUnit = mode == "trickle" ? "lines written one byte per write" : "lines with CR and LF in separate writes";
  }
}

// The reader stalls long enough for the receive ring to overflow; whole lines only, in order, afterwards.
void Overflow(const Options &o, long n, Result &r) {
  r.unit = "rounds";
  r.faultUnit = "ring overflows (a full ring and lost lines)";
  std::string error;
  auto sim = StartSim({"--profile", "many"}, {}, error);
  if (!sim) return r.Fail(error);
  VornLibrary lib;
  if (!LoadLibrary(lib, o, r)) return;
  Host host{lib};
  SetPorts(sim->PortEntry());
  long peak = 0;
  auto round = [&](long i, bool stall) {
    const std::string where = "round " + std::to_string(i);
    const std::int32_t index = host.FindAndInitialise(error);
    if (index < 0) {
      r.Fail(where + ": " + error);
      lib.CloseAll();
      return false;
    }
    const std::vector<int> enabled = StartStream(host, *sim, index, r, where);
    bool ok = !enabled.empty();
    std::vector<std::string> delivered;
    ReadFor(lib, index, std::chrono::milliseconds(200), delivered);
    long waiting = 0;
    if (stall) {
      // 64 KiB of ~100-byte lines at 500 lines/s fill in about 1.3 s.
      SleepMs(2500);
      waiting = lib.ReadBuffSize(index);
      peak = std::max(peak, waiting);
    }
    ReadFor(lib, index, std::chrono::milliseconds(500), delivered);
    if (!host.Command(index, VORN_CMD_STOP)) r.Fail(where + ": stop failed");
    Drain(lib, index, delivered);
    if (lib.CloseAll() != 1) r.Fail(where + ": CloseAll failed");
    const MatchResult m = Check(*sim, enabled, delivered, false, r, where);
    if (stall) {
      // 65535 bytes wait at most; a full ring leaves less room than one more line.
      const bool overflowed = m.gaps > 0 && waiting > 65535 - 200;
      if (overflowed) {
        ++r.faults;
      } else {
        r.Fail(where + ": the ring did not overflow (waiting " + std::to_string(waiting) + " bytes, " +
               std::to_string(m.gaps) + " gaps)");
      }
      ok = ok && overflowed;
    }
    return ok && m.ok;
  };
  round(-1, false);
  r.before = MeasureResources();
  for (long i = 0; i < n; ++i) r.survived += round(i, true);
  r.after = Settled(r.before);
  r.notes.push_back("peak waiting bytes " + std::to_string(peak));
  lib.Unload();
}

}  // namespace vorn_soak
