// vorn-soak: the driver's fault soak and load test. It loads the library by
// name as a host does, drives it against vorn-sim devices (healthy, vanishing,
// silent, faulty, overfilled, eight at once), checks every delivered "@ " line
// against the simulator's sent log and watches threads, descriptors and
// resident memory for growth.
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/simlaunch/sim_process.h"
#include "tools/hostcheck/line_check.h"
#include "tools/hostcheck/host_resources.h"
#include "tools/hostlib/vorn_library.h"

namespace vorn_soak {
namespace {

using Clock = std::chrono::steady_clock;
using vorn_host::VornLibrary;

// Resident memory may move by allocator bookkeeping; descriptors and threads may not move at all.
constexpr long kResidentToleranceKiB = 1024;
constexpr int kReadBuffer = 8192;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }
void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct Result {
  std::string name;
  std::string unit;  // what count means
  long requested = 0;
  long survived = 0;
  long linesChecked = 0;
  long linesLost = 0;  // expected lines not delivered inside the delivered run
  long faults = 0;
  std::string faultUnit;
  long leaks = 0;
  Resources before, after;
  double seconds = 0;
  std::vector<std::string> failures;
  std::vector<std::string> notes;
  void Fail(const std::string &why) {
    if (failures.size() < 20) failures.push_back(why);
  }
};

struct Options {
  std::string library = VORN_LIBRARY_PATH;
  std::string json = "build/soak-results/soak.json";
  std::vector<std::pair<std::string, long>> scenarios;
};

std::string g_tmp;  // scratch folder for logs and links
int g_simSerial = 0;

// A simulator with its sent log, trace and the lines it announces.
struct Sim {
  std::unique_ptr<vorn_simlaunch::SimProcess> process;
  std::string sentLog, trace, link, serial;
  DeviceDescription device;
  std::size_t offset = 0;  // of the sent log already compared

  std::string PortEntry() const { return link.empty() ? process->PortEntry() : serial + "=" + link; }
  std::vector<std::string> NewSent() { return ReadSentLog(sentLog, offset); }
  long TraceCount(const std::string &text) const {
    std::FILE *f = std::fopen(trace.c_str(), "r");
    if (!f) return 0;
    long n = 0;
    char line[8192];
    while (std::fgets(line, sizeof line, f)) n += std::strstr(line, text.c_str()) != nullptr;
    std::fclose(f);
    return n;
  }
};

std::string RunDescribe(const std::vector<std::string> &deviceArgs) {
  std::string command = VORN_SIM_PATH;
  for (const std::string &a : deviceArgs) command += " '" + a + "'";
  command += " --describe";
  std::string out;
  if (std::FILE *p = popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    pclose(p);
  }
  return out;
}

// deviceArgs describe the device (profile, channels, periods); runArgs only how it runs (faults, links).
std::unique_ptr<Sim> StartSim(const std::vector<std::string> &deviceArgs, const std::vector<std::string> &runArgs,
                              std::string &error, bool withLink = false) {
  auto sim = std::make_unique<Sim>();
  const int id = ++g_simSerial;
  char serial[16];
  std::snprintf(serial, sizeof serial, "VSC%07d", 100 + id);
  sim->serial = serial;
  sim->sentLog = g_tmp + "/sim" + std::to_string(id) + ".sent";
  sim->trace = g_tmp + "/sim" + std::to_string(id) + ".trace";
  std::string describeError;
  if (!ParseDescription(RunDescribe(deviceArgs), sim->device, describeError)) {
    error = "vorn-sim --describe: " + describeError;
    return nullptr;
  }
  std::vector<std::string> args = deviceArgs;
  args.insert(args.end(), runArgs.begin(), runArgs.end());
  // A safety net: no simulator outlives a soak that dies.
  args.insert(args.end(), {"--serial", sim->serial, "--sent-log", sim->sentLog, "--trace", sim->trace,
                           "--exit-after", "1800"});
  if (withLink) {
    sim->link = g_tmp + "/port" + std::to_string(id);
    args.insert(args.end(), {"--link", sim->link});
  }
  sim->process = std::make_unique<vorn_simlaunch::SimProcess>();
  std::string startError;
  if (!sim->process->Start(VORN_SIM_PATH, args, startError)) {
    error = "vorn-sim did not start";
    return nullptr;
  }
  return sim;
}

void SetPorts(const std::string &value) { setenv("VORN_PORTS", value.c_str(), 1); }

// The host's side of one session.
struct Host {
  VornLibrary &lib;

  bool Command(std::int32_t index, std::uint32_t code, std::int32_t argument = 0) {
    CommandRecord r{};
    r.argument = argument;
    return lib.DeviceCommand(index, code, &r) == 1;
  }
  std::int32_t Int(std::int32_t index, std::uint32_t code, std::int32_t argument = 0) {
    CommandRecord r{};
    r.argument = argument;
    r.intResult = -1;
    return lib.DeviceCommand(index, code, &r) == 1 ? r.intResult : -1;
  }
  std::string Text(std::int32_t index, std::uint32_t code) {
    char buffer[512] = {};
    CommandRecord r{};
    r.textBuffer = buffer;
    r.textLength = sizeof buffer;
    return lib.DeviceCommand(index, code, &r) == 1 ? std::string(buffer) : std::string();
  }
  std::string GeneralMessage() {
    const std::int32_t size = lib.GetLastErrorMsg(-1, nullptr);
    if (size <= 0 || size > 65536) return {};
    std::vector<char> buffer(static_cast<std::size_t>(size) + 1, '\0');
    lib.GetLastErrorMsg(-1, buffer.data());
    return buffer.data();
  }
  // Finds and initialises the first device of the current list; -1 with a reason when it fails.
  std::int32_t FindAndInitialise(std::string &error) {
    std::int32_t index = -1;
    if (lib.FindDevice(&index) != 1) {
      error = "FindDevice found no device";
      return -1;
    }
    if (lib.Initialise(index) != 1) {
      error = "Initialise failed: " + GeneralMessage();
      return -1;
    }
    return index;
  }
  // Enables every channel and selects the fastest period; the enabled positions are returned.
  std::vector<int> PrepareStream(std::int32_t index, std::string &error) {
    std::vector<int> enabled;
    const std::int32_t last = Int(index, VORN_CMD_LAST_CHANNEL);
    for (std::int32_t p = 1; p <= last; ++p) {
      if (!Command(index, VORN_CMD_ENABLE_CHANNEL, p)) {
        error = "enable channel failed";
        return {};
      }
      enabled.push_back(p);
    }
    long fastest = 0;
    std::stringstream list(Text(index, VORN_CMD_PERIOD_LIST));
    for (std::string item; std::getline(list, item, ',');) {
      const long v = std::strtol(item.c_str(), nullptr, 10);
      if (v > 0 && (fastest == 0 || v < fastest)) fastest = v;
    }
    if (fastest > 0) Command(index, VORN_CMD_SELECT_PERIOD, static_cast<std::int32_t>(fastest));
    return enabled;
  }
};

// Reads lines until the deadline; false when a read returned something that is not a line.
void ReadFor(VornLibrary &lib, std::int32_t index, Clock::duration span, std::vector<std::string> &delivered,
             std::uint32_t timeoutMs = 200) {
  char buffer[kReadBuffer];
  const auto end = Clock::now() + span;
  while (Clock::now() < end) {
    if (lib.ReadLine(index, buffer, sizeof buffer, timeoutMs) == 1) delivered.push_back(std::string(buffer) + "\n");  // ReadLine takes the line end off
  }
}

void Drain(VornLibrary &lib, std::int32_t index, std::vector<std::string> &delivered, std::uint32_t timeoutMs = 100) {
  char buffer[kReadBuffer];
  while (lib.ReadLine(index, buffer, sizeof buffer, timeoutMs) == 1) delivered.push_back(std::string(buffer) + "\n");  // ReadLine takes the line end off
}

// Checks what one session delivered against what its device sent since the last check.
MatchResult Check(Sim &sim, const std::vector<int> &enabled, const std::vector<std::string> &delivered,
                  bool consecutive, Result &result, const std::string &where, long *sentOut = nullptr) {
  const std::vector<std::string> sent = sim.NewSent();
  std::vector<std::string> expected;
  expected.reserve(sent.size());
  for (const std::string &line : sent) {
    if (auto e = ExpectedHostLine(line, sim.device, enabled)) expected.push_back(std::move(*e));
  }
  if (sentOut) *sentOut = static_cast<long>(sent.size());
  MatchResult m = MatchDelivered(expected, delivered, consecutive);
  result.linesChecked += static_cast<long>(m.ok ? m.matched : m.firstBad);
  result.linesLost += static_cast<long>(m.skipped);
  if (!m.ok) result.Fail(where + ": " + m.detail);
  return m;
}

// Enables every channel at the fastest period and starts the stream, counting only the
// lines sent from now on; the enabled positions, or none when it failed (recorded).
std::vector<int> StartStream(Host &host, Sim &sim, std::int32_t index, Result &result, const std::string &where) {
  std::string error;
  const std::vector<int> enabled = host.PrepareStream(index, error);
  if (enabled.empty()) {
    result.Fail(where + ": " + error);
    return {};
  }
  sim.NewSent();  // lines of earlier sessions are not this one's
  if (!host.Command(index, VORN_CMD_START)) {
    result.Fail(where + ": start failed");
    return {};
  }
  return enabled;
}

// A stream session of a given length on an initialised device, checked; false when the session failed.
bool StreamChecked(Host &host, Sim &sim, std::int32_t index, Clock::duration span, bool consecutive, Result &result,
                   const std::string &where, long *sentOut = nullptr) {
  const std::vector<int> enabled = StartStream(host, sim, index, result, where);
  if (enabled.empty()) return false;
  std::vector<std::string> delivered;
  ReadFor(host.lib, index, span, delivered);
  const bool stopped = host.Command(index, VORN_CMD_STOP);
  Drain(host.lib, index, delivered);
  if (!stopped) result.Fail(where + ": stop failed");
  if (delivered.empty()) result.Fail(where + ": no line delivered");
  return Check(sim, enabled, delivered, consecutive, result, where, sentOut).ok && stopped && !delivered.empty();
}

// After closing, a receive thread may take a moment to finish: wait a bounded time for the counts to settle.
Resources Settled(const Resources &before) {
  Resources now = MeasureResources();
  for (int i = 0; i < 40 && (now.threads > before.threads || now.descriptors > before.descriptors); ++i) {
    SleepMs(25);
    now = MeasureResources();
  }
  return now;
}

void CompareResources(Result &r) {
  if (r.after.threads > r.before.threads) {
    ++r.leaks;
    r.Fail("threads grew from " + std::to_string(r.before.threads) + " to " + std::to_string(r.after.threads));
  }
  if (r.after.descriptors > r.before.descriptors) {
    ++r.leaks;
    r.Fail("descriptors grew from " + std::to_string(r.before.descriptors) + " to " +
           std::to_string(r.after.descriptors));
  }
  if (r.after.residentKiB > r.before.residentKiB + kResidentToleranceKiB) {
    ++r.leaks;
    r.Fail("resident memory grew from " + std::to_string(r.before.residentKiB) + " KiB to " +
           std::to_string(r.after.residentKiB) + " KiB (tolerance " + std::to_string(kResidentToleranceKiB) + " KiB)");
  }
}

bool LoadLibrary(VornLibrary &lib, const Options &o, Result &r) {
  std::string error;
  if (!lib.Load(o.library, error)) {
    r.Fail("cannot load " + o.library + ": " + error);
    return false;
  }
  return true;
}

// ---- scenarios ----

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
  auto sim = StartSim({}, {"--fault", "vanish-each=40", "--vanish-action", "reopen", "--reopen-delay-ms", "30"}, error, true);
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

// Eight devices streaming at their fastest period at once, one host thread per device.
void Load(const Options &o, long seconds, Result &r) {
  r.unit = "seconds";
  constexpr int kDevices = 8;
  std::string error;
  std::vector<std::unique_ptr<Sim>> sims;
  std::string ports;
  for (int d = 0; d < kDevices; ++d) {
    auto sim = StartSim({"--profile", "crc"}, {}, error);
    if (!sim) return r.Fail(error);
    ports += (ports.empty() ? "" : ";") + sim->PortEntry();
    sims.push_back(std::move(sim));
  }
  VornLibrary lib;
  if (!LoadLibrary(lib, o, r)) return;
  Host host{lib};
  SetPorts(ports);
  std::vector<std::int32_t> indexes;
  for (int d = 0; d < kDevices; ++d) {
    std::int32_t index = -1;
    if (lib.FindDevice(&index) != 1 || lib.Initialise(index) != 1) {
      r.Fail("device " + std::to_string(d) + ": not found or not initialised: " + host.GeneralMessage());
      lib.CloseAll();
      return;
    }
    indexes.push_back(index);
  }
  std::vector<std::vector<int>> enabled(kDevices);
  for (int d = 0; d < kDevices; ++d) enabled[d] = host.PrepareStream(indexes[d], error);

  long total = 0, before = 0, after = 0;
  // Each host thread checks its own device's lines as it goes, so a long run keeps no stream in memory.
  auto phase = [&](Clock::duration span, const std::string &label) {
    std::vector<std::unique_ptr<InOrderChecker>> checkers;
    std::vector<long> sent(kDevices, 0);
    std::vector<int> started(kDevices, 0), stopped(kDevices, 0);
    for (int d = 0; d < kDevices; ++d) {
      sims[d]->NewSent();
      checkers.push_back(std::make_unique<InOrderChecker>(true));
    }
    auto takeSent = [&](int d) {
      for (const std::string &line : sims[d]->NewSent()) {
        ++sent[d];
        if (auto e = ExpectedHostLine(line, sims[d]->device, enabled[d])) checkers[d]->AddExpected(std::move(*e));
      }
    };
    std::vector<std::thread> threads;
    for (int d = 0; d < kDevices; ++d) {
      threads.emplace_back([&, d] {
        Host own{lib};
        char buffer[kReadBuffer];
        started[d] = own.Command(indexes[d], VORN_CMD_START);
        const auto end = Clock::now() + span;
        long n = 0;
        while (Clock::now() < end) {
          if (lib.ReadLine(indexes[d], buffer, sizeof buffer, 200) != 1) continue;
          checkers[d]->AddDelivered(std::string(buffer) + "\n");
          if (++n % 500 == 0) {
            takeSent(d);
            checkers[d]->Match(false);
          }
        }
        stopped[d] = own.Command(indexes[d], VORN_CMD_STOP);
        while (lib.ReadLine(indexes[d], buffer, sizeof buffer, 100) == 1) checkers[d]->AddDelivered(std::string(buffer) + "\n");
      });
    }
    for (auto &t : threads) t.join();
    for (int d = 0; d < kDevices; ++d) {
      const std::string where = label + " device " + std::to_string(d);
      if (!started[d] || !stopped[d]) r.Fail(where + ": start or stop failed");
      takeSent(d);
      checkers[d]->Match(true);
      const MatchResult &m = checkers[d]->result();
      r.linesChecked += static_cast<long>(m.matched);
      r.linesLost += static_cast<long>(m.skipped);
      if (!m.ok) r.Fail(where + ": " + m.detail);
      if (m.matched == 0) r.Fail(where + ": no line delivered");
      if (m.ok) {
        total += static_cast<long>(m.matched);
        before += static_cast<long>(m.before);
        after += sent[d] - static_cast<long>(m.before + m.matched);
      }
    }
  };
  phase(std::chrono::milliseconds(500), "warm-up");
  r.before = MeasureResources();
  total = before = after = 0;
  const auto t0 = Clock::now();
  phase(std::chrono::seconds(seconds), "run");
  const double took = Seconds(Clock::now() - t0);
  r.survived = r.failures.empty() ? seconds : 0;
  // Measured with the eight sessions still open, as before.
  r.after = Settled(r.before);
  if (lib.CloseAll() != 1) r.Fail("CloseAll failed");
  char note[200];
  std::snprintf(note, sizeof note, "%d devices, %.0f lines/s delivered in all; %ld sent before the first and %ld after the last delivered line",
                kDevices, static_cast<double>(total) / took, before, after);
  r.notes.push_back(note);
  lib.Unload();
}

// ---- output ----

std::string JsonString(const std::string &s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string JsonResources(const Resources &x) {
  return "{\"threads\": " + std::to_string(x.threads) + ", \"descriptors\": " + std::to_string(x.descriptors) +
         ", \"resident_kib\": " + std::to_string(x.residentKiB) + "}";
}

bool WriteJson(const std::string &path, const std::vector<Result> &results, bool passed) {
  std::error_code ec;
  const std::filesystem::path p(path);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path(), ec);
  std::FILE *f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  char stamp[64];
  const std::time_t now = std::time(nullptr);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  std::fprintf(f, "{\n  \"date\": \"%s\",\n  \"resident_tolerance_kib\": %ld,\n  \"passed\": %s,\n  \"scenarios\": [\n",
               stamp, kResidentToleranceKiB, passed ? "true" : "false");
  for (std::size_t i = 0; i < results.size(); ++i) {
    const Result &r = results[i];
    std::fprintf(f,
                 "    {\"name\": %s, \"unit\": %s, \"requested\": %ld, \"survived\": %ld, \"lines_checked\": %ld, "
                 "\"lines_lost\": %ld, \"faults_injected\": %ld, \"fault_unit\": %s, \"leaks\": %ld, \"seconds\": %.2f,\n"
                 "     \"before\": %s, \"after\": %s,\n     \"failures\": [",
                 JsonString(r.name).c_str(), JsonString(r.unit).c_str(), r.requested, r.survived, r.linesChecked,
                 r.linesLost, r.faults, JsonString(r.faultUnit).c_str(), r.leaks, r.seconds,
                 JsonResources(r.before).c_str(), JsonResources(r.after).c_str());
    for (std::size_t k = 0; k < r.failures.size(); ++k)
      std::fprintf(f, "%s%s", k ? ", " : "", JsonString(r.failures[k]).c_str());
    std::fprintf(f, "], \"notes\": [");
    for (std::size_t k = 0; k < r.notes.size(); ++k)
      std::fprintf(f, "%s%s", k ? ", " : "", JsonString(r.notes[k]).c_str());
    std::fprintf(f, "]}%s\n", i + 1 < results.size() ? "," : "");
  }
  std::fprintf(f, "  ]\n}\n");
  return std::fclose(f) == 0;
}

void PrintTable(const std::vector<Result> &results) {
  std::printf("\n%-18s %9s %9s %10s %6s %8s %5s %9s %9s %15s %6s\n", "scenario", "count", "survived", "lines", "lost",
              "faults", "leaks", "threads", "fds", "rss KiB", "result");
  for (const Result &r : results) {
    char threads[32], fds[32], rss[40];
    std::snprintf(threads, sizeof threads, "%ld>%ld", r.before.threads, r.after.threads);
    std::snprintf(fds, sizeof fds, "%ld>%ld", r.before.descriptors, r.after.descriptors);
    std::snprintf(rss, sizeof rss, "%ld>%ld", r.before.residentKiB, r.after.residentKiB);
    std::printf("%-18s %9ld %9ld %10ld %6ld %8ld %5ld %9s %9s %15s %6s\n", r.name.c_str(), r.requested, r.survived,
                r.linesChecked, r.linesLost, r.faults, r.leaks, threads, fds, rss, r.failures.empty() ? "ok" : "FAIL");
  }
  for (const Result &r : results) {
    for (const std::string &n : r.notes) std::printf("  %s: %s\n", r.name.c_str(), n.c_str());
    for (const std::string &f : r.failures) std::printf("  %s FAILED: %s\n", r.name.c_str(), f.c_str());
  }
}

const char kUsage[] =
    "Usage: vorn-soak [--library PATH] [--json FILE] SCENARIO=COUNT...\n"
    "Soaks the driver against simulated devices and checks every delivered line.\n"
    "Scenarios (COUNT in the unit given):\n"
    "  cycles=N      FindDevice/Initialise/CloseAll cycles (every 50th streams too)\n"
    "  vanish=N      cycles of a device that vanishes mid-stream and comes back\n"
    "  silent=N      initialisations of a device that never answers (about 20 s each)\n"
    "  faults=S      S one-second sessions for each of garbage, high-bytes, overlong,\n"
    "                split-crlf, trickle, burst and missing\n"
    "  FAULT=S       one of those modes alone, e.g. burst=10\n"
    "  overflow=N    rounds of a stalled reader overfilling the receive ring\n"
    "  loadunload=N  library loads and unloads (every 10th streams)\n"
    "  load=S        eight devices streaming at once for S seconds\n"
    "Options:\n"
    "  --library PATH  the driver library (default: the one built beside this program)\n"
    "  --json FILE     results file (default build/soak-results/soak.json)\n"
    "Exit status: 0 when every scenario passed, 1 when one failed, 2 on a usage error.\n";

const char *const kFaultModes[] = {"garbage", "high-bytes", "overlong", "split-crlf", "trickle", "burst", "missing"};

}  // namespace
}  // namespace vorn_soak

int main(int argc, char **argv) {
  using namespace vorn_soak;
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--library" || a == "--json") && i + 1 < argc) {
      (a == "--library" ? o.library : o.json) = argv[++i];
    } else if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (const auto eq = a.find('='); eq != std::string::npos && eq > 0) {
      char *end = nullptr;
      const long count = std::strtol(a.c_str() + eq + 1, &end, 10);
      if (*end != '\0' || count < 0) {
        std::fprintf(stderr, "vorn-soak: bad count in %s\n%s", a.c_str(), kUsage);
        return 2;
      }
      o.scenarios.emplace_back(a.substr(0, eq), count);
    } else {
      std::fprintf(stderr, "vorn-soak: unknown argument %s\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
  if (o.scenarios.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
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
  g_tmp = tmp;

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
  if (std::getenv("VORN_SOAK_KEEP")) std::printf("scratch kept: %s\n", g_tmp.c_str());
  else std::filesystem::remove_all(g_tmp, ec);
  return passed ? 0 : 1;
}
