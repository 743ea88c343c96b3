#include "tools/vorn-fuzz-calls/runner.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/hostcheck/line_check.h"
#include "tools/hostlib/vorn_library.h"
#include "tools/vorn-fuzz-calls/delivered_lines.h"
#include "tools/vorn-fuzz-calls/platform.h"
#include "tools/vorn-fuzz-calls/sim_device.h"

namespace vorn_fuzz {

namespace {

using Clock = std::chrono::steady_clock;
using vorn_host::VornLibrary;

// ---- hang watchdog ----

std::mutex g_watchMutex;
std::string g_watchSequence, g_watchWhat, g_hangFile;
Clock::time_point g_watchDeadline = Clock::time_point::max();

void Arm(long boundMs, std::string what) {
  std::lock_guard<std::mutex> lock(g_watchMutex);
  g_watchDeadline = Clock::now() + std::chrono::milliseconds(boundMs);
  g_watchWhat = std::move(what);
}

void Disarm() {
  std::lock_guard<std::mutex> lock(g_watchMutex);
  g_watchDeadline = Clock::time_point::max();
}

double g_secondsByOp[static_cast<int>(Op::Exit) + 1] = {};
long g_countByOp[static_cast<int>(Op::Exit) + 1] = {};

// ---- simulated devices ----

int g_simSerial = 0;

struct Sim {
  std::unique_ptr<SimDevice> process;
  std::string serial, sentLog;
  vorn_soak::DeviceDescription device;
  std::vector<std::string> sent;
  std::size_t offset = 0;
  void ReadSent() {
    for (std::string &line : vorn_soak::ReadSentLog(sentLog, offset)) sent.push_back(std::move(line));
  }
};

std::unique_ptr<Sim> StartSim(const DeviceSpec &deviceSpec, const std::string &scratch, std::string &error) {
  auto sim = std::make_unique<Sim>();
  const int id = ++g_simSerial;
  char serial[16];
  std::snprintf(serial, sizeof serial, "VSC%07d", 200 + id);
  sim->serial = serial;
  sim->sentLog = scratch + "/sim" + std::to_string(id) + ".sent";
  std::remove(sim->sentLog.c_str());
  // The description comes from the device's own arguments; the faults change only how it runs.
  std::vector<std::string> describeArgs;
  for (std::size_t i = 0; i < deviceSpec.args.size(); ++i) {
    if (deviceSpec.args[i] == "--fault" || deviceSpec.args[i] == "--fault-every" ||
        deviceSpec.args[i] == "--vanish-action" || deviceSpec.args[i] == "--reopen-delay-ms") {
      ++i;
      continue;
    }
    describeArgs.push_back(deviceSpec.args[i]);
  }
  std::string why;
  if (!vorn_soak::ParseDescription(DescribeSimDevice(describeArgs), sim->device, why)) {
    error = "vorn-sim --describe: " + why;
    return nullptr;
  }
  std::string startError;
  sim->process = StartSimDevice(deviceSpec.args, sim->serial, sim->sentLog, scratch, startError);
  if (!sim->process) {
    error = "vorn-sim did not start with" +
            [&] {
              std::string s;
              for (const std::string &a : deviceSpec.args) s += " " + a;
              return s;
            }() +
            ": " + startError;
    return nullptr;
  }
  return sim;
}

// The library of a process that keeps it loaded between sequences.
VornLibrary g_keptLibrary;

// The simulators of a sequence that ends the process: stopped after the library's own teardown.
std::vector<std::unique_ptr<Sim>> *g_exitSims = nullptr;

constexpr unsigned char kGuard = 0xA5;
constexpr std::size_t kGuardBytes = 64;

// A host buffer of size bytes (none when size <= 0) followed by a guard.
struct GuardedBuffer {
  std::vector<char> bytes;
  std::size_t size;
  GuardedBuffer(std::int64_t n, char fill) : size(n > 0 ? static_cast<std::size_t>(n) : 0) {
    bytes.assign(size + kGuardBytes, static_cast<char>(kGuard));
    std::fill(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size), fill);
  }
  char *data() { return bytes.data(); }
  bool GuardIntact() const {
    for (std::size_t i = size; i < bytes.size(); ++i)
      if (static_cast<unsigned char>(bytes[i]) != kGuard) return false;
    return true;
  }
  bool Unchanged(char fill) const {
    for (std::size_t i = 0; i < size; ++i)
      if (bytes[i] != fill) return false;
    return GuardIntact();
  }
};

// A second host thread that reads one session while the first thread calls the
// others, checking each read as the first thread does. It owns that session's
// model while it runs.
class BackgroundReader {
 public:
  ~BackgroundReader() { Stop(); }

  void Start(const VornLibrary &lib, std::int32_t index, SessionModel *model, std::uint32_t timeoutMs,
             std::size_t call) {
    Stop();
    index_ = index;
    stop_ = false;
    thread_ = std::thread([this, &lib, index, model, timeoutMs, call] {
      std::vector<char> buffer(8192 + 64, 'Z');
      while (!stop_) {
        std::fill(buffer.begin(), buffer.end(), 'Z');
        const auto t0 = Clock::now();
        const std::int32_t r = lib.ReadLine(index, buffer.data(), 8192, timeoutMs);
        if (r != 0 && r != 1) return Found("ReadLine returned " + std::to_string(r));
        for (std::size_t i = 8192; i < buffer.size(); ++i)
          if (buffer[i] != 'Z') return Found("ReadLine wrote past maxLen");
        if (r == 1) {
          const char *end = static_cast<const char *>(std::memchr(buffer.data(), '\0', 8192));
          if (!end) return Found("ReadLine delivered a line without its terminating null");
          if (!model) return Found("ReadLine returned 1 for a missing session");
          Take(*model, buffer.data(), static_cast<std::size_t>(end - buffer.data()), call);
          Take(*model, "\n", 1, call);
        } else if (Clock::now() - t0 > std::chrono::milliseconds(2 * timeoutMs + 2000)) {
          return Found("ReadLine took past twice its time-out");
        } else if (Clock::now() - t0 < std::chrono::milliseconds(1)) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));  // nothing to wait on: no spin
        }
      }
    });
  }

  // Ends the thread after its current read.
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    index_ = -1;
  }

  std::int64_t Index() const { return thread_.joinable() ? index_ : -1; }
  // The reader's first finding, if any.
  bool TakeFinding(std::string &what) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finding_.empty()) return false;
    what = finding_;
    return true;
  }

 private:
  void Found(const std::string &what) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finding_.empty()) finding_ = "reader of session " + std::to_string(index_) + ": " + what;
  }

  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::int64_t index_ = -1;
  std::mutex mutex_;
  std::string finding_;
};

class Run {
 public:
  Run(const Sequence &s, const RunOptions &o, Finding &f, long &calls)
      : s_(s), o_(o), f_(f), calls_(calls), lib_(o.keepLoaded ? g_keptLibrary : ownLibrary_) {}

  bool Go() {
    std::string error;
    std::string ports;
    for (const DeviceSpec &d : s_.devices) {
      auto sim = StartSim(d, o_.scratch, error);
      if (!sim) return Fail("load", 0, error);
      ports += (ports.empty() ? "" : ";") + sim->process->PortEntry();
      sims_.push_back(std::move(sim));
    }
    SetEnvironment("VORN_PORTS", ports);
    if (!lib_.handle && !lib_.Load(o_.library, error))
      return Fail("load", 0, "cannot load " + o_.library + ": " + error);
    bool ok = true;
    for (std::size_t i = 0; i < s_.calls.size() && ok && Clock::now() < o_.stopAt; ++i) {
      if (s_.calls[i].op == Op::Exit) {
        // The library's teardown runs with the sessions open; the devices stay until after it.
        g_exitSims = new std::vector<std::unique_ptr<Sim>>(std::move(sims_));
        // The teardown at exit closes every session, as CloseAll would, within the same bound.
        Arm(1000 * static_cast<long>(table_.size()) + o_.slackMs, "call " + std::to_string(i) + " Exit");
        std::fflush(nullptr);
        std::exit(0);
      }
      ok = Step(i, s_.calls[i]);
    }
    if (ok) ok = StopReader(s_.calls.size());
    if (ok) ok = Step(s_.calls.size(), Call{Op::CloseAll});
    Disarm();
    // Lines are logged once written; give the logs a moment before the lines are compared.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    if (ok) {
      for (auto &sim : sims_) sim->ReadSent();
      for (const SessionModel &m : all_) {
        if (m.sim >= 0 && !CheckLines(m, sims_[static_cast<std::size_t>(m.sim)]->sent,
                                      sims_[static_cast<std::size_t>(m.sim)]->device, f_)) {
          ok = false;
          break;
        }
      }
    }
    if (!o_.keepLoaded) lib_.Unload();
    return ok;
  }

 private:
  bool Fail(const std::string &kind, std::size_t call, const std::string &detail) {
    f_ = {kind, call, detail};
    return false;
  }

  SessionModel *Session(std::int64_t index) {
    if (index < 0 || index >= static_cast<std::int64_t>(table_.size())) return nullptr;
    return &all_[table_[static_cast<std::size_t>(index)]];
  }

  static std::int32_t I32(std::int64_t v) { return static_cast<std::int32_t>(v); }

  long BoundMs(const Call &c) const {
    const long sessions = static_cast<long>(table_.size());
    switch (c.op) {
      case Op::FindDevice: return 5000;
      // The S loop (5 s), the version wait (15 s), and the close of a failed start before it.
      case Op::Initialise: return 21000 + 1000;
      case Op::DeviceCommand:
        // The configuration wait, then for a start or a stop the idle wait and the S loop.
        return 15000 + ((c.b == 37 || c.b == 38) ? 10000 : 0) + 1000;
      // A line arrives whole after at most one more wait.
      case Op::ReadLine:
      case Op::ReadBuffer: return 2 * std::max<long>(0, static_cast<long>(c.c));
      case Op::CloseAll:
      case Op::Reload: return 1000 * sessions;
      case Op::Sleep: return static_cast<long>(c.a);
      // A child that exits ends its sessions' share of the library, no more.
      case Op::Fork: return 5000;
      default: return 0;
    }
  }

  // The reader stops before a call that changes the table or needs its session: the
  // threading rules allow no other export beside those.
  bool NeedsReaderStopped(const Call &c) const {
    switch (c.op) {
      case Op::FindDevice:
      case Op::CloseAll:
      case Op::Reload:
      case Op::Reader: return true;
      case Op::Sleep:
      case Op::Fork:
      case Op::Exit:
      case Op::GetDeviceClassInfo: return false;
      case Op::GetLastErrorMsg: return c.a != -1 && c.a == reader_.Index();
      default: return c.a == reader_.Index();
    }
  }

  bool StopReader(std::size_t i) {
    if (reader_.Index() < 0) return true;
    Arm(2 * 400 + 2000 + o_.slackMs, "call " + std::to_string(i) + " stopping the second reader");
    reader_.Stop();
    Disarm();
    std::string what;
    if (reader_.TakeFinding(what)) return Fail("result", i, what);
    return true;
  }

  bool Step(std::size_t i, const Call &c) {
    if (NeedsReaderStopped(c) && !StopReader(i)) return false;
    if (o_.verbose) std::fprintf(stderr, "  %zu: %s\n", i, FormatCall(c).c_str());
    Arm(BoundMs(c) + o_.slackMs, "call " + std::to_string(i) + " " + FormatCall(c));
    if (c.op != Op::Sleep) ++calls_;
    const auto t0 = Clock::now();
    const bool ok = Execute(i, c);
    Disarm();
    g_secondsByOp[static_cast<int>(c.op)] += std::chrono::duration<double>(Clock::now() - t0).count();
    ++g_countByOp[static_cast<int>(c.op)];
    std::string what;
    if (ok && reader_.TakeFinding(what)) return Fail("result", i, what);
    return ok;
  }

  bool Execute(std::size_t i, const Call &c) {
    SessionModel *m = Session(c.a);
    const bool missing = m == nullptr;
    auto bad = [&](const std::string &what) { return Fail("result", i, FormatCall(c) + ": " + what); };
    auto zeroOne = [&](std::int32_t r) { return r == 0 || r == 1; };
    switch (c.op) {
      case Op::GetDeviceClassInfo: {
        DeviceClassInfo info{};
        if (lib_.GetDeviceClassInfo(&info) != 1) return bad("did not return 1");
        if (!info.className || !info.shortName) return bad("left a name null");
        return true;
      }
      case Op::FindDevice: {
        std::int32_t index = -77;
        const std::int32_t r = lib_.FindDevice(&index);
        if (!zeroOne(r)) return bad("returned " + std::to_string(r));
        if (r == 0) {
          if (index != -77) return bad("returned 0 but wrote an index");
          cursor_ = 0;
          return true;
        }
        if (index != static_cast<std::int32_t>(table_.size()))
          return bad("wrote index " + std::to_string(index) + " for a table of " + std::to_string(table_.size()));
        SessionModel s;
        // VORN_PORTS lists the devices in order; discovery walks it from where it stopped.
        s.sim = cursor_ < static_cast<int>(sims_.size()) ? cursor_ : -1;
        if (s.sim >= 0) {
          sims_[static_cast<std::size_t>(s.sim)]->ReadSent();
          s.sentBase = sims_[static_cast<std::size_t>(s.sim)]->sent.size();
        }
        ++cursor_;
        table_.push_back(all_.size());
        all_.push_back(std::move(s));
        return true;
      }
      case Op::Initialise: {
        // A session that is up and has not failed keeps its configuration; otherwise it is read again.
        const bool again = !missing && (!m->initialised || lib_.IsFailed(I32(c.a)) == 1);
        const std::int32_t r = lib_.Initialise(I32(c.a));
        if (!zeroOne(r)) return bad("returned " + std::to_string(r));
        if (missing && r != 0) return bad("returned 1 for a missing session");
        if (!missing) {
          m->initialised = true;
          if (again) {
            m->history.push_back({});
            Reset(*m);
          }
        }
        return true;
      }
      case Op::CloseAll:
      case Op::Reload: {
        if (c.op == Op::CloseAll) {
          const std::int32_t r = lib_.CloseAll();
          if (r != 1) return bad("returned " + std::to_string(r));
        } else if (o_.keepLoaded) {
          // Where the library cannot be loaded again, a reload is a CloseAll.
          if (lib_.CloseAll() != 1) return bad("CloseAll in place of a reload did not return 1");
        } else {
          lib_.Unload();
          std::string error;
          if (!lib_.Load(o_.library, error)) return Fail("load", i, "cannot load the library again: " + error);
        }
        table_.clear();
        cursor_ = 0;
        return true;
      }
      case Op::IsFailed: {
        const std::int32_t r = lib_.IsFailed(I32(c.a));
        if (!zeroOne(r)) return bad("returned " + std::to_string(r));
        if (missing && r != 1) return bad("returned 0 for a missing session");
        return true;
      }
      case Op::CanUseBaudRate:
      case Op::SetBaudRate: {
        const std::int32_t r =
            c.op == Op::CanUseBaudRate ? lib_.CanUseBaudRate(I32(c.a), I32(c.b)) : lib_.SetBaudRate(I32(c.a), I32(c.b));
        if (!zeroOne(r)) return bad("returned " + std::to_string(r));
        if (missing && r != 0) return bad("returned 1 for a missing session");
        return true;
      }
      case Op::GetBaudRate: {
        // The rate last given, whatever it was (a rate of 0 or less keeps the line's speed and is recorded).
        const std::int32_t r = lib_.GetBaudRate(I32(c.a));
        if (missing && r != 0) return bad("returned " + std::to_string(r) + " for a missing session");
        return true;
      }
      case Op::ReadLine: {
        GuardedBuffer buffer(c.b, 'Z');
        const std::int32_t r = lib_.ReadLine(I32(c.a), buffer.data(), I32(c.b), static_cast<std::uint32_t>(c.c));
        if (!zeroOne(r)) return bad("returned " + std::to_string(r));
        if (!buffer.GuardIntact()) return Fail("buffer", i, FormatCall(c) + ": wrote past maxLen");
        if (r == 0 || c.b <= 0) {
          if (!buffer.Unchanged('Z')) return Fail("buffer", i, FormatCall(c) + ": changed the buffer without a line");
          if (missing && r != 0) return bad("returned 1 for a missing session");
          return true;
        }
        if (missing) return bad("returned 1 for a missing session");
        const char *end = static_cast<const char *>(std::memchr(buffer.data(), '\0', buffer.size));
        if (!end) return Fail("buffer", i, FormatCall(c) + ": delivered a line without its terminating null");
        const std::size_t n = static_cast<std::size_t>(end - buffer.data());
        Take(*m, buffer.data(), n, i);
        // A shorter piece than the buffer allows had its line end taken with it.
        if (n + 1 < buffer.size) Take(*m, "\n", 1, i);
        return true;
      }
      case Op::ReadBuffer: {
        GuardedBuffer buffer(c.b, '\0');
        const std::int32_t r = lib_.ReadBuffer(I32(c.a), buffer.data(), I32(c.b), static_cast<std::uint32_t>(c.c));
        if (!zeroOne(r)) return bad("returned " + std::to_string(r));
        if (!buffer.GuardIntact()) return Fail("buffer", i, FormatCall(c) + ": wrote past count");
        if (r == 0) {
          if (!buffer.Unchanged('\0')) return Fail("buffer", i, FormatCall(c) + ": changed the buffer without data");
          return true;
        }
        if (missing || c.b <= 0) return bad("returned 1 without anything to deliver");
        // The ring holds text without nulls, so the count delivered is where the zeros begin.
        const std::size_t n = strnlen(buffer.data(), buffer.size);
        if (n == 0) return Fail("buffer", i, FormatCall(c) + ": returned 1 but delivered no byte");
        Take(*m, buffer.data(), n, i);
        return true;
      }
      case Op::WriteBuffer: {
        GuardedBuffer buffer(c.b, 'w');
        const std::int32_t r = lib_.WriteBuffer(I32(c.a), buffer.data(), I32(c.b));
        if (r != 0) return bad("returned " + std::to_string(r));
        return true;
      }
      case Op::ReadBuffSize: {
        const std::int32_t r = lib_.ReadBuffSize(I32(c.a));
        if (r < 0 || r > 65535 || (missing && r != 0)) return bad("returned " + std::to_string(r));
        return true;
      }
      case Op::FlushReadBuffer:
        lib_.FlushReadBuffer(I32(c.a));
        if (m) Reset(*m);
        return true;
      case Op::GetUniqueID: {
        std::int32_t id = -77;
        const std::int32_t r = lib_.GetUniqueID(I32(c.a), &id);
        if (!zeroOne(r)) return bad("returned " + std::to_string(r));
        if (missing && (r != 0 || id != -77)) return bad("wrote an identifier for a missing session");
        if (!missing && r != 1) return bad("returned 0 for a present session");
        return true;
      }
      case Op::DeviceCommand: return Command(i, c, m);
      case Op::GetLastErrorMsg: {
        const std::int32_t size = lib_.GetLastErrorMsg(I32(c.a), nullptr);
        if (c.a == -1 && size < 1) return bad("general message of size " + std::to_string(size));
        if (c.a != -1 && missing && size != 0)
          return bad("returned " + std::to_string(size) + " for a missing session");
        if (size < 0 || size > 65536) return bad("returned size " + std::to_string(size));
        if (size == 0) return true;
        GuardedBuffer buffer(size, 'Z');
        const std::int32_t again = lib_.GetLastErrorMsg(I32(c.a), buffer.data());
        // A session's text may be taken or change in between; only a text that still fits is held to the size.
        if (again <= size && !buffer.GuardIntact())
          return Fail("buffer", i, FormatCall(c) + ": wrote past the size it gave");
        return true;
      }
      case Op::Sleep: std::this_thread::sleep_for(std::chrono::milliseconds(c.a)); return true;
      case Op::Reader:
        if (c.a < 0) return true;
        reader_.Start(lib_, I32(c.a), m, static_cast<std::uint32_t>(std::max<std::int64_t>(0, c.b)), i);
        return true;
      case Op::Fork: {
        std::string problem;
        if (!ForkAndExit(c.a == 1, BoundMs(c) + o_.slackMs / 2, problem)) return Fail("fork", i, problem);
        return true;
      }
      case Op::Exit: return true;
    }
    return true;
  }

  bool Command(std::size_t i, const Call &c, SessionModel *m) {
    GuardedBuffer text(c.d, 'Z');
    CommandRecord record{};
    record.textBuffer = text.data();
    record.textLength = I32(c.d);
    record.argument = I32(c.c);
    record.intResult = -77;
    const std::int32_t r = lib_.DeviceCommand(I32(c.a), static_cast<std::uint32_t>(c.b), &record);
    auto bad = [&](const std::string &what) { return Fail("result", i, FormatCall(c) + ": " + what); };
    if (r != 0 && r != 1) return bad("returned " + std::to_string(r));
    if (!text.GuardIntact()) return Fail("buffer", i, FormatCall(c) + ": wrote past textLength");
    if (c.d <= 0 && !text.Unchanged('Z')) return Fail("buffer", i, FormatCall(c) + ": wrote into a buffer of no size");
    if (!m) {
      if (r != 0) return bad("returned 1 for a missing session");
      if (!text.Unchanged('Z') || record.intResult != -77) return bad("wrote a reply for a missing session");
      return true;
    }
    static const std::set<std::int64_t> known{0, 3, 4, 11, 17, 18, 19, 21, 22, 28, 32, 35, 37, 38, 41, 42, 59};
    if (r == 1 && !known.count(c.b)) return bad("returned 1 for an unsupported code");
    if (r == 1 && (c.b == 41 || c.b == 42)) {
      std::vector<int> next = m->history.back();
      const int p = I32(c.c);
      const auto at = std::find(next.begin(), next.end(), p);
      if (c.b == 42 && at == next.end()) next.insert(std::upper_bound(next.begin(), next.end(), p), p);
      if (c.b == 41 && at != next.end()) next.erase(at);
      m->history.push_back(std::move(next));
    }
    // The start empties the ring, whatever it returns.
    if (c.b == 37) Reset(*m);
    return true;
  }

  const Sequence &s_;
  const RunOptions &o_;
  Finding &f_;
  long &calls_;
  VornLibrary ownLibrary_;
  VornLibrary &lib_;
  std::vector<std::unique_ptr<Sim>> sims_;
  std::vector<SessionModel> all_;   // every session of the run, closed ones too
  std::vector<std::size_t> table_;  // the driver's table: positions in all_
  int cursor_ = 0;                  // discovery's position in VORN_PORTS
  // Last, so that it stops (and lets go of the library and the models) first.
  BackgroundReader reader_;
};

}  // namespace

void StartWatchdog(const std::string &hangFile) {
  g_hangFile = hangFile;
  std::thread([] {
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      std::lock_guard<std::mutex> lock(g_watchMutex);
      if (Clock::now() < g_watchDeadline) continue;
      std::fprintf(stderr, "FINDING hang: %s did not return within its bound\n", g_watchWhat.c_str());
      if (!g_hangFile.empty()) {
        if (std::FILE *f = std::fopen(g_hangFile.c_str(), "w")) {
          std::fprintf(f, "# hang: %s did not return within its bound\n%s", g_watchWhat.c_str(),
                       g_watchSequence.c_str());
          std::fclose(f);
        }
      }
      std::fflush(stderr);
      std::_Exit(3);
    }
  }).detach();
}

std::string TimeByCall() {
  nlohmann::ordered_json byCall = nlohmann::ordered_json::object();
  for (int op = 0; op <= static_cast<int>(Op::Exit); ++op) {
    if (!g_countByOp[op]) continue;
    // Tenths of a second are all the figure claims.
    byCall[OpName(static_cast<Op>(op))] = {g_countByOp[op], std::round(g_secondsByOp[op] * 10) / 10};
  }
  return byCall.dump();
}

void SetWatchdogSequence(const std::string &sequenceText) {
  std::lock_guard<std::mutex> lock(g_watchMutex);
  g_watchSequence = sequenceText;
}

bool RunSequence(const Sequence &s, const RunOptions &o, Finding &finding, long &calls) {
  static const bool registered = [] {
    // Runs after the library's own teardown at exit: the devices outlive the sessions.
    std::atexit([] {
      if (g_exitSims && InStartingProcess()) g_exitSims->clear();
    });
    return true;
  }();
  (void)registered;
  return Run(s, o, finding, calls).Go();
}

}  // namespace vorn_fuzz
