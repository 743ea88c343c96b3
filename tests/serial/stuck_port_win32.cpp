#include "serial/stuck_port_win32.h"

#include <windows.h>

#include <cstring>
#include <mutex>
#include <vector>

namespace vorn_test {

namespace {

constexpr ULONG_PTR kStatusPending = 0x103;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;

enum class Kind { kWrite, kRead, kCommWait };
struct Pending {
  OVERLAPPED *overlapped;
  Kind kind;
};

std::mutex lock;
std::vector<Pending> pending;
HANDLE fakePort = nullptr;
StuckPort::CommWait waitMode = StuckPort::CommWait::kPends;

bool IsFake(HANDLE handle) {
  std::lock_guard<std::mutex> hold(lock);
  return fakePort && handle == fakePort;
}

BOOL Pend(OVERLAPPED *overlapped, Kind kind) {
  if (!overlapped) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  overlapped->Internal = kStatusPending;
  overlapped->InternalHigh = 0;
  if (overlapped->hEvent) ResetEvent(overlapped->hEvent);
  {
    std::lock_guard<std::mutex> hold(lock);
    pending.push_back({overlapped, kind});
  }
  SetLastError(ERROR_IO_PENDING);
  return FALSE;
}

std::int32_t Count(Kind kind) {
  std::lock_guard<std::mutex> hold(lock);
  std::int32_t n = 0;
  for (const Pending &p : pending) n += p.kind == kind;
  return n;
}

// The system's functions, saved when the import table is patched.
struct Originals {
  decltype(&CreateFileW) createFile;
  decltype(&CloseHandle) closeHandle;
  decltype(&GetCommState) getCommState;
  decltype(&SetCommState) setCommState;
  decltype(&GetCommTimeouts) getCommTimeouts;
  decltype(&SetCommTimeouts) setCommTimeouts;
  decltype(&SetCommMask) setCommMask;
  decltype(&WaitCommEvent) waitCommEvent;
  decltype(&ClearCommError) clearCommError;
  decltype(&ReadFile) readFile;
  decltype(&WriteFile) writeFile;
  decltype(&CancelIoEx) cancelIoEx;
} real;

HANDLE WINAPI FakeCreateFile(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                             DWORD flags, HANDLE templateFile) {
  if (name && std::memcmp(name, kStuckPortName, sizeof kStuckPortName) == 0) {
    HANDLE port = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::lock_guard<std::mutex> hold(lock);
    fakePort = port;
    return port ? port : INVALID_HANDLE_VALUE;
  }
  return real.createFile(name, access, share, security, disposition, flags, templateFile);
}

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
  {
    std::lock_guard<std::mutex> hold(lock);
    if (fakePort && handle == fakePort) fakePort = nullptr;
  }
  return real.closeHandle(handle);
}

BOOL WINAPI FakeGetCommState(HANDLE port, LPDCB dcb) {
  if (!IsFake(port)) return real.getCommState(port, dcb);
  const DWORD length = dcb->DCBlength;
  std::memset(dcb, 0, sizeof *dcb);
  dcb->DCBlength = length;
  dcb->BaudRate = 9600;
  dcb->ByteSize = 8;
  return TRUE;
}

BOOL WINAPI FakeSetCommState(HANDLE port, LPDCB dcb) { return IsFake(port) ? TRUE : real.setCommState(port, dcb); }

BOOL WINAPI FakeGetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts) {
  if (!IsFake(port)) return real.getCommTimeouts(port, timeouts);
  std::memset(timeouts, 0, sizeof *timeouts);
  return TRUE;
}

BOOL WINAPI FakeSetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts) {
  return IsFake(port) ? TRUE : real.setCommTimeouts(port, timeouts);
}

// A new mask does not end the pending wait either.
BOOL WINAPI FakeSetCommMask(HANDLE port, DWORD mask) { return IsFake(port) ? TRUE : real.setCommMask(port, mask); }

BOOL WINAPI FakeWaitCommEvent(HANDLE port, LPDWORD mask, LPOVERLAPPED overlapped) {
  if (!IsFake(port)) return real.waitCommEvent(port, mask, overlapped);
  if (waitMode == StuckPort::CommWait::kCharsAtOnce) {
    *mask = EV_RXCHAR;
    if (overlapped) {
      overlapped->Internal = 0;
      if (overlapped->hEvent) SetEvent(overlapped->hEvent);
    }
    return TRUE;
  }
  return Pend(overlapped, Kind::kCommWait);
}

BOOL WINAPI FakeClearCommError(HANDLE port, LPDWORD errors, LPCOMSTAT status) {
  if (!IsFake(port)) return real.clearCommError(port, errors, status);
  if (errors) *errors = 0;
  if (status) std::memset(status, 0, sizeof *status);
  return TRUE;
}

BOOL WINAPI FakeReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED overlapped) {
  if (!IsFake(file)) return real.readFile(file, buffer, size, got, overlapped);
  return Pend(overlapped, Kind::kRead);
}

BOOL WINAPI FakeWriteFile(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  if (!IsFake(file)) return real.writeFile(file, bytes, size, written, overlapped);
  return Pend(overlapped, Kind::kWrite);
}

// Accepted, and never carried out.
BOOL WINAPI FakeCancelIoEx(HANDLE file, LPOVERLAPPED overlapped) {
  return IsFake(file) ? TRUE : real.cancelIoEx(file, overlapped);
}

struct Hook {
  const char *name;
  void *replacement;
  void **original;
};

// Points every import of name in this program at replacement (or back).
bool Patch(const char *name, void *replacement, void **original) {
  auto *base = reinterpret_cast<BYTE *>(GetModuleHandleW(nullptr));
  auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
  auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY &directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!directory.VirtualAddress) return false;
  bool found = false;
  for (auto *module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + directory.VirtualAddress); module->Name;
       ++module) {
    if (!module->OriginalFirstThunk) continue;
    auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + module->OriginalFirstThunk);
    auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + module->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char *>(byName->Name), name) != 0) continue;
      DWORD was = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &was)) return false;
      if (original && !*original) *original = reinterpret_cast<void *>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, was, &was);
      found = true;
    }
  }
  return found;
}

template <typename F>
Hook MakeHook(const char *name, F replacement, F &original) {
  return {name, reinterpret_cast<void *>(replacement), reinterpret_cast<void **>(&original)};
}

std::vector<Hook> Hooks() {
  return {MakeHook("CreateFileW", &FakeCreateFile, real.createFile),
          MakeHook("CloseHandle", &FakeCloseHandle, real.closeHandle),
          MakeHook("GetCommState", &FakeGetCommState, real.getCommState),
          MakeHook("SetCommState", &FakeSetCommState, real.setCommState),
          MakeHook("GetCommTimeouts", &FakeGetCommTimeouts, real.getCommTimeouts),
          MakeHook("SetCommTimeouts", &FakeSetCommTimeouts, real.setCommTimeouts),
          MakeHook("SetCommMask", &FakeSetCommMask, real.setCommMask),
          MakeHook("WaitCommEvent", &FakeWaitCommEvent, real.waitCommEvent),
          MakeHook("ClearCommError", &FakeClearCommError, real.clearCommError),
          MakeHook("ReadFile", &FakeReadFile, real.readFile),
          MakeHook("WriteFile", &FakeWriteFile, real.writeFile),
          MakeHook("CancelIoEx", &FakeCancelIoEx, real.cancelIoEx)};
}

}  // namespace

bool StuckPort::Install(CommWait mode) {
  waitMode = mode;
  for (const Hook &hook : Hooks()) {
    if (!Patch(hook.name, hook.replacement, hook.original)) return false;
  }
  installed_ = true;
  return true;
}

StuckPort::~StuckPort() {
  CompleteAll();
  if (!installed_) return;
  for (const Hook &hook : Hooks()) Patch(hook.name, *hook.original, nullptr);
  std::lock_guard<std::mutex> hold(lock);
  fakePort = nullptr;
}

std::int32_t StuckPort::PendingWrites() const { return Count(Kind::kWrite); }
std::int32_t StuckPort::PendingReads() const { return Count(Kind::kRead); }
std::int32_t StuckPort::PendingCommWaits() const { return Count(Kind::kCommWait); }

bool StuckPort::AwaitPendingRead(std::uint32_t timeoutMs) const {
  const ULONGLONG until = GetTickCount64() + timeoutMs;
  while (PendingReads() == 0) {
    if (GetTickCount64() > until) return false;
    Sleep(2);
  }
  return true;
}

void StuckPort::CompleteAll() {
  std::vector<Pending> ending;
  {
    std::lock_guard<std::mutex> hold(lock);
    ending.swap(pending);
  }
  // The driver must have kept each record alive: the system may write to it until now.
  for (const Pending &p : ending) {
    p.overlapped->InternalHigh = 0;
    p.overlapped->Internal = kStatusCancelled;
    if (p.overlapped->hEvent) SetEvent(p.overlapped->hEvent);
  }
}

}  // namespace vorn_test
