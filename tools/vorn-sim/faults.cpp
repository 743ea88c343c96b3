#include "faults.h"

#include <algorithm>
#include <charconv>

namespace VornSim {

namespace {

struct FaultMode {
  const char *name;
  const char *argument;  // "" when the mode takes none
  const char *help;
};

constexpr FaultMode kModes[] = {
    {"silent", "", "never answers and never streams (commands are still traced)"},
    {"late", "MS", "every answer is written MS ms (default 500) after its command"},
    {"wrong-firmware", "REV", "the version line reports firmware revision REV (default 2)"},
    {"names-mismatch", "N", "the names line lacks N names (default 1; negative: -N extra names)"},
    {"garbage", "", "a comma-less junk line after every --fault-every data lines"},
    {"overlong", "LEN", "a junk line of LEN bytes (default 5000, no comma) every --fault-every data lines"},
    {"high-bytes", "",
     "every --fault-every data lines: a line of bytes 0x80-0xFF, and the data line gets an extra trailing field of "
     "them"},
    {"split-crlf", "MS", "CR and LF of every line in separate writes, LF MS ms (default 2) later"},
    {"trickle", "MS", "one byte per write, MS ms (default 1) apart"},
    {"burst", "BYTES",
     "data lines held back, then written at once in one write of at least BYTES (default 16384); silence between"},
    {"stop-after", "N", "after N data lines (default 100) the device hangs: no data, no answers, for good"},
    {"vanish", "N", "after N data lines (default 100) the port disappears (see --vanish-action)"},
    {"vanish-each", "N", "as vanish, and again N data lines after every reopening (--vanish-action reopen)"},
    {"missing", "N", "every N-th data line (default 7) sends one value as '*' (a legal missing sample)"},
    {"lose-b-answer", "",
     "the answer \"B\" to the first :B after power-up is never sent; the stream starts all the same"},
};

bool ReadInt(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t &out) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return !text.empty() && ec == std::errc() && ptr == text.data() + text.size() && out >= low && out <= high;
}

}  // namespace

bool ApplyFault(std::string_view given, FaultSet &faults, std::string &error) {
  const size_t eq = given.find('=');
  const std::string_view name = given.substr(0, eq);
  const bool hasArg = eq != std::string_view::npos;
  const std::string_view arg = hasArg ? given.substr(eq + 1) : std::string_view();

  const FaultMode *mode = nullptr;
  for (const FaultMode &m : kModes)
    if (name == m.name) mode = &m;
  if (!mode) {
    error = "unknown fault mode '" + std::string(name) + "' (see --help)";
    return false;
  }
  if (hasArg && mode->argument[0] == '\0') {
    error = "fault mode '" + std::string(name) + "' takes no argument";
    return false;
  }

  // Reads the argument or its default; bounds keep every mode finite.
  std::int64_t value = 0;
  auto number = [&](std::int64_t fallback, std::int64_t low, std::int64_t high) {
    if (!hasArg) {
      value = fallback;
      return true;
    }
    if (ReadInt(arg, low, high, value)) return true;
    error = "fault mode '" + std::string(name) + "' needs " + mode->argument + " from " + std::to_string(low) + " to " +
            std::to_string(high);
    return false;
  };

  if (name == "silent") faults.silent = true;
  else if (name == "late") {
    if (!number(500, 0, 600000)) return false;
    faults.lateMs = static_cast<int>(value);
  } else if (name == "wrong-firmware") {
    faults.wrongFirmware = hasArg ? std::string(arg) : "2";
    if (faults.wrongFirmware.find_first_of(",\r\n") != std::string::npos) {
      error = "fault mode 'wrong-firmware' needs a revision without commas or line ends";
      return false;
    }
  } else if (name == "names-mismatch") {
    if (!number(1, -8, 64)) return false;
    faults.namesShortBy = static_cast<int>(value);
  } else if (name == "garbage") faults.garbage = true;
  else if (name == "overlong") {
    if (!number(5000, 1, 1 << 20)) return false;
    faults.overlongBytes = static_cast<int>(value);
  } else if (name == "high-bytes") faults.highBytes = true;
  else if (name == "split-crlf") {
    if (!number(2, 0, 10000)) return false;
    faults.splitDelayMs = static_cast<int>(value);
  } else if (name == "trickle") {
    if (!number(1, 0, 1000)) return false;
    faults.trickleMs = static_cast<int>(value);
  } else if (name == "burst") {
    if (!number(16384, 1, 1 << 24)) return false;
    faults.burstBytes = static_cast<int>(value);
  } else if (name == "stop-after") {
    if (!number(100, 0, INT64_MAX)) return false;
    faults.stopAfter = value;
  } else if (name == "vanish") {
    if (!number(100, 0, INT64_MAX)) return false;
    faults.vanishAfter = value;
  } else if (name == "vanish-each") {
    if (!number(100, 0, INT64_MAX)) return false;
    faults.vanishAfter = value;
    faults.vanishEachPowerUp = true;
  } else if (name == "missing") {
    if (!number(7, 1, 1000000)) return false;
    faults.missingEvery = static_cast<int>(value);
  } else if (name == "lose-b-answer") faults.loseFirstBAnswer = true;
  return true;
}

std::string FaultHelp() {
  std::string text;
  for (const FaultMode &m : kModes) {
    std::string head = "  ";
    head += m.name;
    if (m.argument[0]) head += std::string("[=") + m.argument + "]";
    if (head.size() < 24) head.resize(24, ' ');
    else head += "\n" + std::string(24, ' ');
    // Wrap at 79 columns, continuing under the description.
    std::string line = head;
    std::string_view rest = m.help;
    while (!rest.empty()) {
      size_t room = 79 - line.size();
      size_t cut = rest.size() <= room ? rest.size() : rest.rfind(' ', room);
      if (cut == std::string_view::npos || cut == 0) cut = std::min(room, rest.size());
      text += line + std::string(rest.substr(0, cut)) + "\n";
      rest.remove_prefix(cut);
      while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
      line = std::string(24, ' ');
    }
  }
  return text;
}

}  // namespace VornSim
