// Runs the built vornctl as a user does, for the end-to-end tests.
#pragma once

#include <string>
#include <vector>

namespace vorn_test {

struct RunResult {
  int exitCode = -1;  // 128 + signal when killed
  std::string out;
  std::string err;
};

struct RunOptions {
  std::vector<std::string> environment;  // NAME=VALUE added to this process's
  int timeoutMs = 60000;                 // then SIGKILL
  int interruptAfterMs = -1;             // send interruptSignal after this long
  int interruptSignal = 2;               // SIGINT
  std::string interruptWhenFile;         // or once this file holds
  long interruptAtBytes = 0;             //   at least this many bytes
  bool asNobody = false;                 // run as user nobody (setpriv), as a user outside dialout
  bool stderrOnTerminal = false;         // stderr is a pseudo-terminal (raw, so err holds its exact bytes)
  std::vector<std::string> wrapper;      // a command that runs vornctl (prlimit ... --)
  int stdoutPauseMs = 0;                 // leave stdout unread this long, so vornctl's writes block
};

RunResult RunVornctl(const std::vector<std::string> &args, const RunOptions &options = {});

}  // namespace vorn_test
