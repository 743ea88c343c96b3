#include "tools/vorn-fuzz-calls/sequence.h"

#include <algorithm>
#include <climits>
#include <random>
#include <sstream>

namespace vorn_fuzz {

namespace {

struct OpInfo {
  Op op;
  const char *name;
  int arguments;
};

constexpr OpInfo kOps[] = {
    {Op::GetDeviceClassInfo, "GetDeviceClassInfo", 0},
    {Op::FindDevice, "FindDevice", 0},
    {Op::Initialise, "Initialise", 1},
    {Op::CloseAll, "CloseAll", 0},
    {Op::IsFailed, "IsFailed", 1},
    {Op::CanUseBaudRate, "CanUseBaudRate", 2},
    {Op::SetBaudRate, "SetBaudRate", 2},
    {Op::GetBaudRate, "GetBaudRate", 1},
    {Op::ReadLine, "ReadLine", 3},        // index, maxLen, time-out
    {Op::ReadBuffer, "ReadBuffer", 3},    // index, count, time-out
    {Op::WriteBuffer, "WriteBuffer", 2},  // index, count
    {Op::ReadBuffSize, "ReadBuffSize", 1},
    {Op::FlushReadBuffer, "FlushReadBuffer", 1},
    {Op::GetUniqueID, "GetUniqueID", 1},
    {Op::DeviceCommand, "DeviceCommand", 4},  // index, code, argument, textLength
    {Op::GetLastErrorMsg, "GetLastErrorMsg", 1},
    {Op::Reload, "Reload", 0},
    {Op::Sleep, "Sleep", 1},
    {Op::Reader, "Reader", 2},  // index, time-out of its reads
    {Op::Fork, "Fork", 1},
    {Op::Exit, "Exit", 0},
};

const OpInfo &Info(Op op) {
  for (const OpInfo &i : kOps)
    if (i.op == op) return i;
  return kOps[0];
}

class Draw {
 public:
  explicit Draw(std::uint64_t seed) : rng_(seed) {}
  std::int64_t Range(std::int64_t lo, std::int64_t hi) {
    return std::uniform_int_distribution<std::int64_t>(lo, hi)(rng_);
  }
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
  template <typename T, std::size_t N>
  T Pick(const T (&items)[N]) {
    return items[static_cast<std::size_t>(Range(0, N - 1))];
  }
  // An index into weights, drawn in proportion to them.
  std::size_t Weighted(const std::vector<int> &weights) {
    return std::discrete_distribution<std::size_t>(weights.begin(), weights.end())(rng_);
  }

 private:
  std::mt19937_64 rng_;
};

DeviceSpec DrawDevice(Draw &d) {
  DeviceSpec deviceSpec;
  const char *profiles[] = {"default", "crc", "na", "many", "nocycle", "units"};
  deviceSpec.args = {"--profile", d.Pick(profiles)};
  if (d.Chance(0.4)) return deviceSpec;
  auto fault = [&](const std::string &f) { deviceSpec.args.insert(deviceSpec.args.end(), {"--fault", f}); };
  const std::vector<int> weights{1, 3, 2, 3, 1, 1, 1, 3, 1, 1, 1, 1, 1, 1};
  switch (d.Weighted(weights)) {
    case 0: fault("silent"); break;
    case 1: fault("late=" + std::to_string(d.Range(20, 400))); break;
    case 2:
      fault("garbage");
      deviceSpec.args.insert(deviceSpec.args.end(), {"--fault-every", std::to_string(d.Range(2, 20))});
      break;
    case 3:
      fault("vanish-each=" + std::to_string(d.Range(20, 400)));
      deviceSpec.args.insert(deviceSpec.args.end(),
                             {"--vanish-action", "reopen", "--reopen-delay-ms", std::to_string(d.Range(20, 300))});
      break;
    case 4: fault("split-crlf=" + std::to_string(d.Range(0, 20))); break;
    case 5: fault("trickle=" + std::to_string(d.Range(0, 2))); break;
    case 6: fault("burst=" + std::to_string(d.Range(1000, 16384))); break;
    case 7: fault("lose-b-answer"); break;
    case 8: fault("stop-after=" + std::to_string(d.Range(0, 300))); break;
    case 9: fault("overlong=" + std::to_string(d.Range(100, 9000))); break;
    case 10: fault("high-bytes"); break;
    case 11: fault("missing=" + std::to_string(d.Range(1, 10))); break;
    case 12: fault("wrong-firmware"); break;
    default: fault("vanish=" + std::to_string(d.Range(0, 200))); break;
  }
  return deviceSpec;
}

// Indexes mostly in the table as the calls so far have grown it, sometimes just outside it or wild.
std::int64_t DrawIndex(Draw &d, int tableSize) {
  if (tableSize > 0 && d.Chance(0.8)) return d.Range(0, tableSize - 1);
  const std::int64_t odd[] = {-1, -2, 0, 1, 2, 3, 64, INT_MAX, INT_MIN};
  const std::int64_t pick = d.Pick(odd);
  return pick == 3 ? tableSize : pick;
}

std::int64_t DrawTimeout(Draw &d) {
  const std::int64_t t[] = {0, 0, 1, 10, 50, 100, 200, 300, 400};
  return d.Pick(t);
}

}  // namespace

const char *OpName(Op op) { return Info(op).name; }

std::string FormatCall(const Call &call) {
  const OpInfo &info = Info(call.op);
  std::string out = info.name;
  const std::int64_t values[] = {call.a, call.b, call.c, call.d};
  for (int i = 0; i < info.arguments; ++i) out += " " + std::to_string(values[i]);
  return out;
}

std::string FormatSequence(const Sequence &s) {
  std::string out;
  for (const DeviceSpec &d : s.devices) {
    out += "device";
    for (const std::string &a : d.args) out += " " + a;
    out += "\n";
  }
  for (const Call &c : s.calls) out += FormatCall(c) + "\n";
  return out;
}

bool ParseSequence(const std::string &text, Sequence &out, std::string &error) {
  out = Sequence{};
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::istringstream words(line);
    std::string name;
    if (!(words >> name) || name[0] == '#') continue;
    if (name == "device") {
      DeviceSpec deviceSpec;
      for (std::string a; words >> a;) deviceSpec.args.push_back(a);
      out.devices.push_back(std::move(deviceSpec));
      continue;
    }
    const OpInfo *info = nullptr;
    for (const OpInfo &i : kOps)
      if (name == i.name) info = &i;
    if (!info) {
      error = "line " + std::to_string(number) + ": unknown call " + name;
      return false;
    }
    Call call;
    call.op = info->op;
    std::int64_t *values[] = {&call.a, &call.b, &call.c, &call.d};
    for (int i = 0; i < info->arguments; ++i) {
      if (!(words >> *values[i])) {
        error =
            "line " + std::to_string(number) + ": " + name + " needs " + std::to_string(info->arguments) + " numbers";
        return false;
      }
    }
    out.calls.push_back(call);
  }
  if (out.devices.empty() || out.devices.size() > 3) {
    error = "a sequence names one to three devices";
    return false;
  }
  return true;
}

Sequence Generate(std::uint64_t seed, int callCount, bool forks) {
  Draw d(seed);
  Sequence s;
  const int devices = static_cast<int>(d.Range(1, 3));
  for (int i = 0; i < devices; ++i) s.devices.push_back(DrawDevice(d));

  // A model of the table as discovery fills it, so that most indexes name a session.
  int table = 0, cursor = 0;
  // Which of them have been initialised: a command to one that has not waits 15 s for its
  // description, so most such commands become the Initialise a host would make first.
  std::vector<bool> initialised;
  // The session a second host thread reads, -1 while none does. Calls of the first
  // thread go to other sessions then, as the threading rules have it.
  std::int64_t reader = -1;
  // Weights in the order of Op up to Fork.
  const std::vector<int> weights{1, 10, 10, 3, 4, 2, 2, 2, 14, 8, 1, 4, 4, 2, 20, 4, 1, 4, 3, forks ? 1 : 0};
  const std::int32_t rates[] = {0, -1, 300, 9600, 57600, 115200, 230400, 921600, 3000000, INT_MAX};
  const std::int64_t lengths[] = {-1, 0, 1, 2, 3, 8, 40, 512, 8192, 70000};
  const std::int64_t textLengths[] = {-1, 0, 1, 2, 4, 16, 64, 512, 4096};
  const std::int64_t known[] = {0, 3, 4, 11, 17, 18, 19, 21, 22, 28, 32, 35, 37, 38, 38, 41, 42, 42, 42, 59};
  const std::int64_t wildCodes[] = {65, 99, 255, 1000, 0x7fffffff, 0xffffffff};
  const std::int64_t arguments[] = {-1, INT_MIN, INT_MAX, 100, 2000, 5000, 10000, 500000, 1000000, 2000000};
  const std::int64_t timeouts[] = {0, 1, 10, 30, 100, 200};
  const int length = static_cast<int>(d.Range(callCount / 2, callCount));
  auto drawIndex = [&] {
    const std::int64_t index = DrawIndex(d, table);
    if (index != reader || table < 2) return index;
    return (index + d.Range(1, table - 1)) % table;
  };
  for (int n = 0; n < length; ++n) {
    Call c;
    c.op = static_cast<Op>(d.Weighted(weights));
    // The reader has to stop for a call that changes the table; the runner stops it.
    if (c.op == Op::FindDevice || c.op == Op::CloseAll || c.op == Op::Reload) reader = -1;
    switch (c.op) {
      case Op::FindDevice:
        if (cursor < devices) {
          ++table;
          ++cursor;
          initialised.push_back(false);
        } else {
          cursor = 0;
        }
        break;
      case Op::CloseAll:
      case Op::Reload:
        table = cursor = 0;
        initialised.clear();
        break;
      case Op::Initialise:
        c.a = drawIndex();
        if (c.a >= 0 && c.a < table) initialised[static_cast<std::size_t>(c.a)] = true;
        break;
      case Op::IsFailed:
      case Op::GetBaudRate:
      case Op::ReadBuffSize:
      case Op::FlushReadBuffer:
      case Op::GetUniqueID: c.a = drawIndex(); break;
      case Op::GetLastErrorMsg: c.a = d.Chance(0.5) ? -1 : drawIndex(); break;
      case Op::CanUseBaudRate:
      case Op::SetBaudRate:
        c.a = drawIndex();
        c.b = d.Pick(rates);
        break;
      case Op::ReadLine:
      case Op::ReadBuffer:
        c.a = drawIndex();
        c.b = d.Chance(0.6) ? 8192 : d.Pick(lengths);
        c.c = DrawTimeout(d);
        break;
      case Op::WriteBuffer:
        c.a = drawIndex();
        c.b = d.Pick(lengths);
        break;
      case Op::DeviceCommand: {
        c.a = drawIndex();
        const double r = d.Range(0, 99) / 100.0;
        c.b = r < 0.6 ? d.Pick(known) : r < 0.92 ? d.Range(0, 64) : d.Pick(wildCodes);
        c.c = d.Chance(0.7) ? d.Range(-1, 20) : d.Pick(arguments);
        c.d = d.Chance(0.6) ? 512 : d.Pick(textLengths);
        if (c.a >= 0 && c.a < table && !initialised[static_cast<std::size_t>(c.a)] && d.Chance(0.9)) {
          c = Call{Op::Initialise, c.a};
          initialised[static_cast<std::size_t>(c.a)] = true;
        }
        break;
      }
      case Op::Sleep: c.a = d.Range(0, 400); break;
      case Op::Reader:
        c.a = table > 0 && d.Chance(0.85) ? d.Range(0, table - 1) : -1;
        c.b = d.Pick(timeouts);
        reader = c.a;
        break;
      case Op::Fork: c.a = d.Chance(0.3) ? 1 : 0; break;
      default: break;
    }
    s.calls.push_back(c);
  }
  if (d.Chance(0.1)) {
    // Half the time the process ends while a second thread waits in ReadLine.
    if (table > 0 && reader < 0 && d.Chance(0.5)) s.calls.push_back(Call{Op::Reader, d.Range(0, table - 1), 30});
    s.calls.push_back(Call{Op::Exit});
  }
  return s;
}

}  // namespace vorn_fuzz
