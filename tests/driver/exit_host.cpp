// A host that ends without CloseAll: finds the devices, brings them as far as
// STAGE, then ends as ENDING, leaving the sessions to the library's own shut-down.
//   exit_host LIBRARY SERIAL=PORT[;SERIAL=PORT...] found|initialised|streaming ENDING
// ENDING: return, exit, exitprocess (Windows), unload (the host unloads the library
// without CloseAll, then returns from main), and on POSIX, with STAGE streaming:
//   exit-reading     a second thread loops ReadLine on the last device while main calls exit()
//   fork-exit        a forked child calls exit(); the parent then streams, stops and closes
//   fork-exec-fail   the same with a child whose exec fails before its exit()
// Exit status 0 is the library's shut-down surviving; 2 to 7 name a step that failed first.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/hostlib/vorn_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#endif

namespace vorn_test {
namespace {

using Clock = std::chrono::steady_clock;

void SetPorts(const char *value) {
#ifdef _WIN32
  SetEnvironmentVariableA("VORN_PORTS", value);
#else
  setenv("VORN_PORTS", value, 1);
#endif
}

// Never unloaded (the loader record has no destructor): the library goes with the
// process, as in a host that just ends.
vorn_host::VornLibrary library;

[[noreturn]] void Fail(int status, const char *what) {
  std::fprintf(stderr, "exit_host: %s\n", what);
  std::fflush(stderr);
  std::_Exit(status);
}

bool ReadsASample(const vorn_host::VornLibrary &lib, std::int32_t index) {
  char line[512];
  for (int n = 0; n < 50; ++n) {
    if (lib.ReadLine(index, line, sizeof line, 2000) == 1 && std::strncmp(line, "@ ", 2) == 0) return true;
  }
  return false;
}

bool Stream(const vorn_host::VornLibrary &lib, std::int32_t index) {
  CommandRecord enable{};
  enable.argument = 1;
  CommandRecord start{};
  return lib.DeviceCommand(index, VORN_CMD_ENABLE_CHANNEL, &enable) == 1 &&
         lib.DeviceCommand(index, VORN_CMD_START, &start) == 1 && ReadsASample(lib, index);
}

#ifndef _WIN32
// The child ends through exit(), which runs the library's exit handler in it too.
void ForkAndExit(bool failExecFirst) {
  const pid_t child = fork();
  if (child < 0) Fail(6, "fork failed");
  if (child == 0) {
    if (failExecFirst) execl("/nonexistent/vorn-helper", "vorn-helper", static_cast<char *>(nullptr));
    std::exit(0);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    Fail(6, "the forked child did not exit with 0");
  }
}

// What the parent must still be able to do: stream, stop and close, in the usual bounds.
void CarryOnAfterTheChild(const vorn_host::VornLibrary &lib, const std::vector<std::int32_t> &found) {
  for (std::int32_t index : found) {
    lib.FlushReadBuffer(index);
    if (!ReadsASample(lib, index)) Fail(7, "no sample line after the child's exit");
    if (lib.IsFailed(index) != 0) Fail(7, "the device failed after the child's exit");
    CommandRecord stop{};
    const auto t0 = Clock::now();
    if (lib.DeviceCommand(index, VORN_CMD_STOP, &stop) != 1) Fail(7, "the stop was not answered");
    if (Clock::now() - t0 > std::chrono::seconds(6)) Fail(7, "the stop took longer than its bound");
  }
  const auto t0 = Clock::now();
  if (lib.CloseAll() != 1) Fail(7, "CloseAll did not return 1");
  if (Clock::now() - t0 > std::chrono::seconds(3)) Fail(7, "CloseAll took longer than its bound");
}
#endif

}  // namespace
}  // namespace vorn_test

int main(int argc, char **argv) {
  using namespace vorn_test;
  if (argc != 5) Fail(2, "usage: exit_host LIBRARY SERIAL=PORT[;...] STAGE ENDING");
  const std::string stage = argv[3];
  const std::string ending = argv[4];
  SetPorts(argv[2]);
  vorn_host::VornLibrary *lib = &library;
  std::string error;
  if (!lib->Load(argv[1], error)) Fail(2, error.c_str());
  std::vector<std::int32_t> found;
  for (std::int32_t index = -1; lib->FindDevice(&index) == 1;) found.push_back(index);
  if (found.empty()) Fail(3, "no device found");
  for (std::int32_t index : found) {
    if (stage != "found" && lib->Initialise(index) != 1) Fail(4, "Initialise failed");
    if (stage == "streaming" && !Stream(*lib, index)) Fail(5, "no sample line");
  }
  std::printf("ending by %s at %s\n", ending.c_str(), stage.c_str());
  std::fflush(stdout);
  if (ending == "exit") std::exit(0);
  if (ending == "unload") lib->Unload();
#ifdef _WIN32
  if (ending == "exitprocess") ExitProcess(0);
#else
  if (ending == "exit-reading") {
    // The reader is inside ReadLine, or between two calls, when the process ends.
    std::atomic<long> reads{0};
    std::thread([lib, index = found.back(), &reads] {
      char line[512];
      for (;;) {
        lib->ReadLine(index, line, sizeof line, 30);
        ++reads;
      }
    }).detach();
    while (reads < 20) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::exit(0);
  }
  if (ending == "fork-exit" || ending == "fork-exec-fail") {
    ForkAndExit(ending == "fork-exec-fail");
    CarryOnAfterTheChild(*lib, found);
  }
#endif
  return 0;
}
