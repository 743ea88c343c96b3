#include <windows.h>
#include <tlhelp32.h>

#include "driver/vorn_library.h"

namespace vorn_test {

void *OpenLibrary(const std::string &path, std::string &error) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), n);
  HMODULE module = LoadLibraryW(wide.c_str());
  if (!module) error = "LoadLibraryW failed with " + std::to_string(GetLastError()) + " for " + path;
  return module;
}

void *ResolveSymbol(void *handle, const char *name) {
  return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void CloseLibrary(void *handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

// The build tree's Unix path, seen through Wine's Z: drive.
std::string LibraryUnderTest() {
  std::string path = "Z:";
  for (char c : std::string(VORN_LIBRARY_PATH)) path += c == '/' ? '\\' : c;
  return path;
}

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
