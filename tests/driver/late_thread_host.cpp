// A host whose receive threads are slow to leave the library once told to stop:
// right after each signal of an event a receive thread gives (or, on POSIX, takes)
// while the host closes or unloads, it is held for a second, as a thread preempted
// right there would be (late_thread_hold.h). The host then unloads the library at
// once: a stop that let go of a thread before it had run its last instruction in
// the library would have the code unmapped under it (a crash).
//   late_thread_host LIBRARY ROUNDS      (VORN_PORTS names one device)
// Every second round closes with CloseAll first; the others, the first among them,
// leave it to the unload (on Windows under the loader lock).
// Exit 0 when every round passed; 2 to 4 name the step that failed.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/late_thread_hold.h"
#include "tools/hostlib/vorn_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

[[noreturn]] void Fail(int status, const std::string &what) {
  std::fprintf(stderr, "late_thread_host: %s\n", what.c_str());
  std::_Exit(status);
}

void SleepMs(unsigned ms) {
#ifdef _WIN32
  Sleep(ms);
#else
  usleep(ms * 1000);
#endif
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) Fail(2, "usage: late_thread_host LIBRARY ROUNDS");
  vorn_test::MarkHostThread();
  const int rounds = std::atoi(argv[2]);
  for (int round = 1; round <= rounds; ++round) {
    const std::string where = "round " + std::to_string(round) + ": ";
    vorn_host::VornLibrary lib;
    std::string error;
    if (!lib.Load(argv[1], error)) Fail(2, where + error);
    vorn_test::HoldSignallingThreads(lib.handle);
    std::int32_t index = -1;
    if (lib.FindDevice(&index) != 1 || lib.Initialise(index) != 1) Fail(3, where + "no device");
    CommandRecord enable{};
    enable.argument = 1;
    CommandRecord start{};
    char line[256];
    if (lib.DeviceCommand(index, VORN_CMD_ENABLE_CHANNEL, &enable) != 1 ||
        lib.DeviceCommand(index, VORN_CMD_START, &start) != 1 || lib.ReadLine(index, line, sizeof line, 5000) != 1) {
      Fail(4, where + "no line");
    }
    vorn_test::closing = true;
    if (round % 2 == 0 && lib.CloseAll() != 1) Fail(4, where + "CloseAll did not return 1");
    lib.Unload();
    vorn_test::closing = false;
    // Long enough for a held thread to come back (into unmapped code, if it was let go
    // of too early) before the next load could map the library at the same place.
    SleepMs(1300);
  }
  std::printf("%d rounds\n", rounds);
  return 0;
}
