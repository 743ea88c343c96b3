// Loads and unloads a module with a TLS directory, round after round, in one
// process; with --comm-wait each round first has an overlapped WaitCommEvent
// go pending on a serial port and ends it, as a receive thread does when the
// line is idle. Nothing of the driver is involved.
//
//   serial_wait_reload.exe MODULE PORT ROUNDS [--comm-wait] [--expect-defect]
//
// Wine 8 serves a pending WaitCommEvent with a helper thread that ends without
// the loader's thread shutdown, so the loader keeps it in the list of threads
// it gives TLS slots to; once its memory is reused by a later thread, the walk
// of that list in LoadLibrary faults or never ends. Before each load the probe
// prints the threads that exist, to compare with a WINEDEBUG=+module trace.
//
// Exit 0: every round passed (with --expect-defect: the load faulted or hung).
// Exit 1: with --expect-defect, every round passed. 9: a load hung. 10: fault.
#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace vorn_test {
namespace {

constexpr DWORD kHungMs = 10000;
std::atomic<ULONGLONG> lastProgress{0};
std::atomic<int> currentRound{0};
bool expectDefect = false;

// Exit codes are inverted when the defect is what the caller expects to see.
[[noreturn]] void EndWithDefect(int code, const char *what) {
  std::printf("round %d: %s\n", currentRound.load(), what);
  TerminateProcess(GetCurrentProcess(), expectDefect ? 0 : code);
  for (;;) Sleep(INFINITE);
}

LONG WINAPI OnFault(EXCEPTION_POINTERS *info) {
  std::printf("fault %08lx at %p\n", info->ExceptionRecord->ExceptionCode, info->ExceptionRecord->ExceptionAddress);
  EndWithDefect(10, "faulted");
}

// The hang sits inside the loader with its lock held: only TerminateProcess ends it.
DWORD WINAPI Watchdog(LPVOID) {
  for (;;) {
    Sleep(500);
    if (GetTickCount64() - lastProgress.load() > kHungMs) EndWithDefect(9, "the load did not return");
  }
}

std::wstring Wide(const char *text) {
  std::string path = text;
  if (!path.empty() && path[0] == '/') {  // a Unix path seen through Wine's Z: drive
    std::string out = "Z:";
    for (char c : path) out += c == '/' ? '\\' : c;
    path = out;
  }
  const int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), n);
  return wide;
}

// One idle-line wait: pending WaitCommEvent, then ended by clearing the mask.
bool WaitOnceAndEnd(const std::wstring &port) {
  HANDLE h =
      CreateFileW(port.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::printf("cannot open the port: error %lu\n", GetLastError());
    return false;
  }
  bool ok = SetCommMask(h, EV_RXCHAR) != 0;
  OVERLAPPED overlapped = {};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD mask = 0;
  bool pending = false;
  if (ok && !WaitCommEvent(h, &mask, &overlapped)) pending = GetLastError() == ERROR_IO_PENDING;
  if (pending) {
    Sleep(20);
    SetCommMask(h, 0);
    DWORD bytes = 0;
    GetOverlappedResult(h, &overlapped, &bytes, TRUE);
  }
  CloseHandle(overlapped.hEvent);
  CloseHandle(h);
  std::printf("  comm wait %s\n", pending ? "went pending and was ended" : "completed at once");
  return ok;
}

void PrintThreads() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  std::printf("  threads now:");
  for (BOOL more = Thread32First(snap, &entry); more; more = Thread32Next(snap, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) std::printf(" %04lx", entry.th32ThreadID);
  std::printf("\n");
  CloseHandle(snap);
}

}  // namespace
}  // namespace vorn_test

int main(int argc, char **argv) {
  using namespace vorn_test;
  if (argc < 4) {
    std::printf("usage: %s MODULE PORT ROUNDS [--comm-wait]\n", argv[0]);
    return 2;
  }
  const std::wstring module = Wide(argv[1]);
  const std::wstring port = L"\\\\.\\" + Wide(argv[2]);
  const int rounds = std::atoi(argv[3]);
  bool commWait = false;
  for (int i = 4; i < argc; ++i) {
    commWait = commWait || std::string(argv[i]) == "--comm-wait";
    expectDefect = expectDefect || std::string(argv[i]) == "--expect-defect";
  }
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  SetUnhandledExceptionFilter(OnFault);
  lastProgress = GetTickCount64();
  HANDLE watchdog = CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
  if (!watchdog) return 6;
  for (int round = 1; round <= rounds; ++round) {
    currentRound = round;
    lastProgress = GetTickCount64();
    std::printf("round %d\n", round);
    if (commWait && !WaitOnceAndEnd(port)) return 3;
    Sleep(50);  // the system's own helper threads, if any, are gone by now
    PrintThreads();
    HMODULE m = LoadLibraryW(module.c_str());
    if (!m) {
      std::printf("LoadLibrary failed: error %lu\n", GetLastError());
      return 4;
    }
    auto touch = reinterpret_cast<int (*)()>(reinterpret_cast<void *>(GetProcAddress(m, "ProbeTouch")));
    if (!touch || touch() != 1) return 5;
    FreeLibrary(m);
    std::printf("  loaded and unloaded\n");
  }
  std::printf("all %d rounds passed\n", rounds);
  if (expectDefect) {
    std::printf(
        "this Wine no longer keeps ended serial wait threads in its loader's thread list:\n"
        "driver_chain_test and the reload case may run in one process again\n");
    return 1;
  }
  return 0;
}
