#pragma once
// Fault modes: ways the simulated device misbehaves on purpose, so that the
// host side can be shown to survive them. Each is chosen with
// --fault MODE[=ARG]; several can be combined.

#include <cstdint>
#include <string>
#include <string_view>

namespace VornSim {

struct FaultSet {
  bool silent = false;             // never answers, never streams
  int lateMs = 0;                  // every answer written this much later
  std::string wrongFirmware;       // revision text sent instead of the profile's
  int namesShortBy = 0;            // names line lacks this many names (negative: extra names)
  bool garbage = false;            // comma-less junk lines between data lines
  int overlongBytes = 0;           // junk of this many bytes without CR between data lines
  bool highBytes = false;          // bytes 0x80-0xFF inside lines
  int splitDelayMs = -1;           // >= 0: CR and LF go in separate writes, LF this much later
  int trickleMs = -1;              // >= 0: one byte per write, this many ms apart
  int burstBytes = 0;              // data lines held back and written in one write of at least this size
  std::int64_t stopAfter = -1;     // falls silent for good after this many data lines
  std::int64_t vanishAfter = -1;   // closes the port after this many data lines
  bool vanishEachPowerUp = false;  // the vanish comes again after each power-up, not only once
  int missingEvery = 0;            // every Nth data line has one value sent as "*"
  bool loseFirstBAnswer = false;   // the first B after power-up streams without its "B" line
  int every = 20;                  // cadence, in data lines, of garbage, overlong and high-bytes

  bool ShapesWrites() const { return splitDelayMs >= 0 || trickleMs >= 0 || burstBytes > 0; }
};

// Applies one "MODE" or "MODE=ARG" to the set. False with a message for an
// unknown mode or a bad argument.
bool ApplyFault(std::string_view given, FaultSet &faults, std::string &error);

// One line per mode for --help.
std::string FaultHelp();

}  // namespace VornSim
