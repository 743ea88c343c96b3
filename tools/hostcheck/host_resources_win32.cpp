#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdint>

#include "tools/hostcheck/host_resources.h"

namespace vorn_soak {

long CountThreads() {
  long threads = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    threads += entry.th32OwnerProcessID == GetCurrentProcessId();
  }
  CloseHandle(snapshot);
  return threads;
}

// Kernel handles. Wine answers the count with 0; its handles are small multiples of
// 4, so the open ones are counted one by one there.
long CountDescriptors() {
  DWORD handles = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &handles) && handles != 0) return static_cast<long>(handles);
  long open = 0;
  for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
    DWORD flags = 0;
    open += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != 0;
  }
  return open;
}

Resources MeasureResources() {
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  const long resident = GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory)
                            ? static_cast<long>(memory.WorkingSetSize / 1024)
                            : -1;
  return {CountThreads(), CountDescriptors(), resident};
}

}  // namespace vorn_soak
