// What the call fuzzer needs of the system besides the library: its environment,
// its own path, a scratch folder, child processes and fork.
#pragma once

#include <string>
#include <vector>

namespace vorn_fuzz {

void SetEnvironment(const std::string &name, const std::string &value);
std::string SelfPath();
// A new, empty folder for this run's files; empty on failure.
std::string MakeScratchFolder();
void RemoveFolder(const std::string &path);
// A peer that goes away must not end this process (SIGPIPE).
void IgnoreBrokenPipes();
// True in the process that started: false in a child made by ForkAndExit.
bool InStartingProcess();

struct ChildEnd {
  enum class Kind { kExited, kSignalled, kHung, kNotStarted } kind = Kind::kNotStarted;
  int code = 0;  // the exit status, or the signal
};

// Runs args (args[0] the program), stderr to errPath and stdout to nowhere, for at
// most boundSeconds; past that it is killed and reported hung.
ChildEnd RunProcess(const std::vector<std::string> &args, const std::string &errPath, long boundSeconds);

// Forks; the child ends through exit(0), first trying an exec that fails when
// failedExec. Waits for the child at most boundMs. False with the problem when the
// child did not exit with 0 in time. Where the system has no fork, true and nothing done.
bool ForkAndExit(bool failedExec, long boundMs, std::string &problem);
bool SystemForks();

// False under Wine: once a serial wait has run in a process, a second load of the
// library there faults in Wine's loader (see tests/win32/reload_probe).
bool LibraryReloadsInOneProcess();

}  // namespace vorn_fuzz
