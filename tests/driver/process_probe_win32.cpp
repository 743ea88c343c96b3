#include <windows.h>
#include <tlhelp32.h>

#include "driver/process_probe.h"

namespace vorn_test {

ProcessCounts CountProcessResources() {
  ProcessCounts counts;
  DWORD handles = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handles);
  counts.handles = static_cast<long>(handles);
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
