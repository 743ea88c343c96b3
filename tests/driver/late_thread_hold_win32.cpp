#include <windows.h>

#include <cstring>

#include "driver/late_thread_hold.h"

namespace vorn_test {

std::atomic<bool> closing{false};

namespace {

DWORD hostThread = 0;

// Sets the event, then keeps a thread of the library's there: the thread returns
// from here to whatever called SetEvent, in the library or not.
BOOL WINAPI HeldSetEvent(HANDLE event) {
  const BOOL result = SetEvent(event);
  if (closing && GetCurrentThreadId() != hostThread) Sleep(1000);
  return result;
}

// Points the module's import of kernel32's SetEvent at HeldSetEvent.
bool RedirectSetEvent(HMODULE module) {
  auto *base = reinterpret_cast<unsigned char *>(module);
  const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
  const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!imports.VirtualAddress) return false;
  for (auto *d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress); d->Name; ++d) {
    if (_stricmp(reinterpret_cast<const char *>(base + d->Name), "KERNEL32.dll") != 0) continue;
    auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->OriginalFirstThunk);
    auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto *byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char *>(byName->Name), "SetEvent") != 0) continue;
      DWORD old = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old)) return false;
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(&HeldSetEvent);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
      return true;
    }
  }
  return false;
}

// A thread that returns into the unmapped library faults; the process must end
// failed then, not carry on (Wine's default handler may leave it running).
LONG WINAPI EndOnFault(EXCEPTION_POINTERS *) {
  TerminateProcess(GetCurrentProcess(), 10);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void MarkHostThread() {
  hostThread = GetCurrentThreadId();
  SetUnhandledExceptionFilter(EndOnFault);
}

void HoldSignallingThreads(void *library) { RedirectSetEvent(static_cast<HMODULE>(library)); }

}  // namespace vorn_test
