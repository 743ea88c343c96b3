// A host whose receive threads are slow to leave the library once told to stop:
// every 8-byte read or write (an event's signal, taken or given) that a thread
// other than the host's own makes while the host closes or unloads is held for a
// second after it is made, as a thread preempted right there would be. The host
// then unloads the library at once: a stop that let go of a thread before it had
// run its last instruction in the library would have the code unmapped under it.
//   late_thread_host LIBRARY ROUNDS      (VORN_PORTS names one device)
// Every other round closes with CloseAll first, the others leave it to the unload.
// Exit 0 when every round passed; 2 to 4 name the step that failed.
#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/hostlib/vorn_library.h"

namespace {

std::atomic<bool> closing{false};
pid_t hostThread = 0;

[[noreturn]] void Fail(int status, const std::string &what) {
  std::fprintf(stderr, "late_thread_host: %s\n", what.c_str());
  std::_Exit(status);
}

void HoldALibraryThread(size_t count) {
  if (count == 8 && closing && static_cast<pid_t>(syscall(SYS_gettid)) != hostThread) usleep(1000000);
}

}  // namespace

// Found before the C library's by every caller in the process, the library included.
extern "C" __attribute__((visibility("default"))) ssize_t write(int fd, const void *bytes, size_t count) {
  using WriteFn = ssize_t (*)(int, const void *, size_t);
  static const auto next = reinterpret_cast<WriteFn>(dlsym(RTLD_NEXT, "write"));
  const ssize_t written = next(fd, bytes, count);
  HoldALibraryThread(count);
  return written;
}

extern "C" __attribute__((visibility("default"))) ssize_t read(int fd, void *bytes, size_t count) {
  using ReadFn = ssize_t (*)(int, void *, size_t);
  static const auto next = reinterpret_cast<ReadFn>(dlsym(RTLD_NEXT, "read"));
  const ssize_t got = next(fd, bytes, count);
  HoldALibraryThread(count);
  return got;
}

int main(int argc, char **argv) {
  if (argc != 3) Fail(2, "usage: late_thread_host LIBRARY ROUNDS");
  hostThread = static_cast<pid_t>(syscall(SYS_gettid));
  const int rounds = std::atoi(argv[2]);
  for (int round = 1; round <= rounds; ++round) {
    const std::string where = "round " + std::to_string(round) + ": ";
    vorn_host::VornLibrary lib;
    std::string error;
    if (!lib.Load(argv[1], error)) Fail(2, where + error);
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
    closing = true;
    if (round % 2 && lib.CloseAll() != 1) Fail(4, where + "CloseAll did not return 1");
    lib.Unload();
    closing = false;
    // Long enough for a held thread to come back (into unmapped code, if it was let go
    // of too early) before the next load could map the library at the same place.
    usleep(1300000);
  }
  std::printf("%d rounds\n", rounds);
  return 0;
}
