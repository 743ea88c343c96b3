// A host that ends without CloseAll: finds a device, brings it as far as STAGE,
// then ends as ENDING, leaving the sessions to the library's own shut-down.
//   exit_host LIBRARY SERIAL=PORT found|initialised|streaming return|exit|exitprocess|unload
// (unload: the host unloads the library without CloseAll, then returns from main.)
// Exit status 0 is the library's shut-down surviving; 2 to 5 name a step that failed first.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/hostlib/vorn_library.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace vorn_test {
namespace {

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

}  // namespace
}  // namespace vorn_test

int main(int argc, char **argv) {
  using namespace vorn_test;
  if (argc != 5) Fail(2, "usage: exit_host LIBRARY SERIAL=PORT STAGE ENDING");
  const std::string stage = argv[3];
  const std::string ending = argv[4];
  SetPorts(argv[2]);
  vorn_host::VornLibrary *lib = &library;
  std::string error;
  if (!lib->Load(argv[1], error)) Fail(2, error.c_str());
  std::int32_t index = -1;
  if (lib->FindDevice(&index) != 1) Fail(3, "no device found");
  if (stage != "found") {
    if (lib->Initialise(index) != 1) Fail(4, "Initialise failed");
  }
  if (stage == "streaming") {
    CommandRecord enable{};
    enable.argument = 1;
    CommandRecord start{};
    char line[512];
    bool sample = false;
    if (lib->DeviceCommand(index, VORN_CMD_ENABLE_CHANNEL, &enable) == 1 &&
        lib->DeviceCommand(index, VORN_CMD_START, &start) == 1) {
      for (int n = 0; n < 50 && !sample; ++n) {
        sample = lib->ReadLine(index, line, sizeof line, 2000) == 1 && std::strncmp(line, "@ ", 2) == 0;
      }
    }
    if (!sample) Fail(5, "no sample line");
  }
  std::printf("ending by %s at %s\n", ending.c_str(), stage.c_str());
  std::fflush(stdout);
  if (ending == "exit") std::exit(0);
  if (ending == "unload") lib->Unload();
#ifdef _WIN32
  if (ending == "exitprocess") ExitProcess(0);
#endif
  return 0;
}
