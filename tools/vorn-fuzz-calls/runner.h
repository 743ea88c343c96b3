// Runs one call sequence against the library and simulated devices and checks,
// after every call, what a host may rely on.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "tools/vorn-fuzz-calls/sequence.h"

namespace vorn_fuzz {

struct Finding {
  std::string kind;      // result, buffer, line, bound, load, crash, hang, sanitizer, leak
  std::size_t call = 0;  // index of the call that broke the invariant
  std::string detail;
};

struct RunOptions {
  std::string library;
  std::string scratch;   // folder for sent logs and links
  long slackMs = 10000;  // added to every written wait before a call counts as hung
  bool verbose = false;
  // Load the library once for the process and keep it loaded between sequences (no
  // Reload is drawn then): Wine cannot load it again once a serial wait has run.
  bool keepLoaded = false;
  // Past this, a sequence makes no further calls but its closing CloseAll (a run's end).
  std::chrono::steady_clock::time_point stopAt = std::chrono::steady_clock::time_point::max();
};

// Arms the hang watchdog for one call; on expiry it prints what, writes hangFile
// (when set) with the calls up to the hung one, and ends the process with status 3.
void StartWatchdog(const std::string &hangFile);
void SetWatchdogSequence(const std::string &sequenceText);

// Seconds spent in each kind of call since the process started, for the run's figures.
std::string TimeByCall();

// Runs s; false with the first finding. calls counts the export calls made.
// An Exit call ends the process (status 0) with the sessions open.
bool RunSequence(const Sequence &s, const RunOptions &o, Finding &finding, long &calls);

}  // namespace vorn_fuzz
