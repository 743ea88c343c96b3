#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>

#include "common/process_probe.h"

namespace vorn_test {

namespace {

// Wine answers the handle count with 0; its handles are small multiples of 4, so
// the open ones can be counted one by one.
long CountHandlesByProbing() {
  long open = 0;
  for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
    DWORD flags = 0;
    open += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != 0;
  }
  return open;
}

}  // namespace

ProcessCounts CountProcessResources() {
  ProcessCounts counts;
  DWORD handles = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handles);
  counts.handles = handles != 0 ? static_cast<long>(handles) : CountHandlesByProbing();
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
      counts.threads += entry.th32OwnerProcessID == GetCurrentProcessId();
    }
    CloseHandle(snapshot);
  }
  return counts;
}

}  // namespace vorn_test
