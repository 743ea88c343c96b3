#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdlib>

#include "driver/test_devices.h"

namespace vorn_test {

namespace {
const char *RoleName(Role role) {
  switch (role) {
    case Role::kDefault: return "default";
    case Role::kSecond: return "second";
    case Role::kWrongFirmware: return "wrongfw";
    case Role::kCrc: return "crc";
    case Role::kLostB: return "lostb";
    case Role::kNamesMismatch: return "names";
    case Role::kUnits: return "units";
  }
  return "";
}
}  // namespace

// VORN_TEST_DEVICES holds "role:SERIAL=COMn|role:SERIAL=COMn" (the harness's ports).
std::string DevicePort(Role role) {
  const char *all = std::getenv("VORN_TEST_DEVICES");
  if (!all) return {};
  const std::string list = all;
  const std::string key = std::string(RoleName(role)) + ":";
  for (std::size_t start = 0; start < list.size();) {
    std::size_t end = list.find('|', start);
    if (end == std::string::npos) end = list.size();
    const std::string entry = list.substr(start, end - start);
    if (entry.compare(0, key.size(), key) == 0) {
      const std::string port = entry.substr(key.size());
      const auto eq = port.find('=');
      if (eq == std::string::npos) return {};
      return port.substr(0, eq + 1) + "\\\\.\\" + port.substr(eq + 1);
    }
    start = end + 1;
  }
  return {};
}

void SetVornPorts(const std::string &value) { SetEnvironmentVariableA("VORN_PORTS", value.c_str()); }

// The library writes host text in the user's default OEM code page.
std::vector<HostCodePage> HostCodePages() {
  wchar_t digits[8] = {};
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTCODEPAGE, digits, 8);
  const UINT page = static_cast<UINT>(wcstoul(digits, nullptr, 10));
  auto in = [page](const wchar_t *text) {
    char bytes[16] = {};
    const int n = WideCharToMultiByte(page, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    return n > 1 ? std::string(bytes) : std::string("(not in the page)");
  };
  return {{"code page " + std::to_string(page), "", in(L"\u00B0C"), in(L"\u00B5V")}};
}

void SetLocaleVariable(const std::string &) {}

bool UnplugDevice(Role) { return false; }

LibraryThreads::LibraryThreads(void *libraryHandle) {
  using QueryThread = LONG(WINAPI *)(HANDLE, int, void *, ULONG, ULONG *);
  constexpr int kThreadStartAddress = 9;  // ThreadQuerySetWin32StartAddress
  const auto query = reinterpret_cast<QueryThread>(
      reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
  if (!query || !libraryHandle) return;
  const auto base = reinterpret_cast<std::uintptr_t>(libraryHandle);
  const auto *dos = static_cast<const IMAGE_DOS_HEADER *>(libraryHandle);
  const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + static_cast<std::uintptr_t>(dos->e_lfanew));
  const std::uintptr_t end = base + nt->OptionalHeader.SizeOfImage;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return;
  known_ = true;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snap, &entry); more; more = Thread32Next(snap, &entry)) {
    if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ThreadID);
    if (!thread) continue;
    void *start = nullptr;
    const auto at = query(thread, kThreadStartAddress, &start, sizeof start, nullptr) == 0
                        ? reinterpret_cast<std::uintptr_t>(start)
                        : 0;
    if (at >= base && at < end && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) {
      threads_.push_back(thread);
    } else {
      CloseHandle(thread);
    }
  }
  CloseHandle(snap);
}

LibraryThreads::~LibraryThreads() {
  for (void *thread : threads_) CloseHandle(thread);
}

int LibraryThreads::StillRunning() const {
  if (!known_) return -1;
  int running = 0;
  for (void *thread : threads_) running += WaitForSingleObject(thread, 0) == WAIT_TIMEOUT;
  return running;
}

// Wine 8 serves a pending WaitCommEvent with a helper thread that ends without the
// loader's thread shutdown; the loader keeps it in the list it walks to give every
// thread a TLS slot, and a later load of a module (this library has a TLS directory)
// walks freed or reused memory: it faults or never returns. Measured by the
// wine_reload_after_serial_waits tests, which need nothing of the driver.
std::string ReloadInOneProcessBlocker() {
  const auto wineVersion = reinterpret_cast<const char *(*)()>(
      reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
  if (!wineVersion) return {};
  return std::string("Wine ") + wineVersion() +
         " keeps the helper threads of ended serial waits in its loader's thread list, so a second "
         "load in this process faults in the loader (see the wine_reload_after_serial_waits tests)";
}

}  // namespace vorn_test
