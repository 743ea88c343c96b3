#include <windows.h>

#include "serial/event_thread.h"

namespace OpenPlotr {

namespace {

// A thread that has left the library only runs the DLL thread-detach notifications;
// the bound covers another thread holding the loader lock meanwhile.
constexpr DWORD kExitWaitMs = 2000;

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

WaitOutcome Outcome(DWORD result) {
  switch (result) {
    case WAIT_OBJECT_0: return WaitOutcome::kFirst;
    case WAIT_OBJECT_0 + 1: return WaitOutcome::kSecond;
    case WAIT_TIMEOUT: return WaitOutcome::kTimeout;
    default: return WaitOutcome::kFailed;
  }
}

}  // namespace

struct ThreadLauncher {
  // Runs the body and hands back the event that is to say the thread has left the library.
  static HANDLE Run(LPVOID self) {
    auto *owner = static_cast<Thread *>(self);
    const Thread::Body body = owner->body_;
    void *const argument = owner->argument_;
    const HANDLE left = AsHandle(owner->leftLibrary);
    body(argument);
    return left;
  }
};

}  // namespace OpenPlotr

extern "C" HANDLE VornThreadRun(LPVOID self) { return OpenPlotr::ThreadLauncher::Run(self); }
extern "C" DWORD WINAPI VornThreadEntry(LPVOID self);

// The thread's entry: the body, then SetEvent(left) entered by a jump, so that it
// returns straight to the system's thread start. Once the event is set, no
// instruction of the library runs on the thread any more, and a module detach
// that waits for it may let the library be unmapped: returning through a function
// of ours after setting it would leave a few instructions to run in unmapped code.
#if defined(__x86_64__)
asm(R"(
    .text
    .globl VornThreadEntry
    .def VornThreadEntry; .scl 2; .type 32; .endef
    .seh_proc VornThreadEntry
VornThreadEntry:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    call VornThreadRun
    movq %rax, %rcx
    addq $40, %rsp
    jmp *__imp_SetEvent(%rip)
    .seh_endproc
)");
#elif defined(__i386__)
asm(R"(
    .text
    .globl _VornThreadEntry@4
    .def _VornThreadEntry@4; .scl 2; .type 32; .endef
_VornThreadEntry@4:
    pushl 4(%esp)
    call _VornThreadRun
    addl $4, %esp
    movl %eax, 4(%esp)
    jmp *__imp__SetEvent@4
)");
#else
#error "the thread entry is written for x86 and x86-64"
#endif

namespace OpenPlotr {

Event::Event() {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  handle = event ? reinterpret_cast<std::intptr_t>(event) : kNoHandle;
}

Event::~Event() {
  if (Valid()) CloseHandle(AsHandle(handle));
}

void Event::Set() {
  if (Valid()) SetEvent(AsHandle(handle));
}

void Event::Reset() {
  if (Valid()) ResetEvent(AsHandle(handle));
}

WaitOutcome Event::Wait(std::uint32_t timeoutMs) {
  if (!Valid()) return WaitOutcome::kFailed;
  return Outcome(WaitForSingleObject(AsHandle(handle), timeoutMs));
}

// The system's own auto-reset event, as for every other event here.
DataEvent::DataEvent() {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  handle = event ? reinterpret_cast<std::intptr_t>(event) : Event::kNoHandle;
}

DataEvent::~DataEvent() {
  if (Valid()) CloseHandle(AsHandle(handle));
}

bool DataEvent::Valid() const { return handle != Event::kNoHandle; }

void DataEvent::Set() {
  if (Valid()) SetEvent(AsHandle(handle));
}

void DataEvent::Reset() {
  if (Valid()) ResetEvent(AsHandle(handle));
}

WaitOutcome DataEvent::Wait(std::uint32_t timeoutMs) {
  if (!Valid()) return WaitOutcome::kFailed;
  return Outcome(WaitForSingleObject(AsHandle(handle), timeoutMs));
}

WaitOutcome WaitForEither(Event &first, Event &second, std::uint32_t timeoutMs) {
  if (!first.Valid() || !second.Valid()) return WaitOutcome::kFailed;
  const HANDLE pair[2] = {AsHandle(first.Native()), AsHandle(second.Native())};
  return Outcome(WaitForMultipleObjects(2, pair, FALSE, timeoutMs));
}

Thread::~Thread() {
  if (started_) Abandon();
}

bool Thread::Start(Body body, void *argument) {
  if (started_) return false;
  HANDLE left = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!left) return false;
  body_ = body;
  argument_ = argument;
  leftLibrary = reinterpret_cast<std::intptr_t>(left);
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, VornThreadEntry, this, 0, &id);
  if (!thread) {
    CloseHandle(left);
    leftLibrary = 0;
    return false;
  }
  SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
  handle = reinterpret_cast<std::intptr_t>(thread);
  started_ = true;
  return true;
}

bool Thread::Join(std::uint32_t timeoutMs, bool loaderLockHeld) {
  if (!started_) return true;
  if (WaitForSingleObject(AsHandle(leftLibrary), timeoutMs) != WAIT_OBJECT_0) return false;
  // What is left of the thread runs in the system's code. Its end is awaited too, so
  // that a host sees no thread of ours after CloseAll, except under the loader lock,
  // where the end needs that lock.
  if (!loaderLockHeld) WaitForSingleObject(AsHandle(handle), kExitWaitMs);
  CloseHandle(AsHandle(handle));
  CloseHandle(AsHandle(leftLibrary));
  handle = 0;
  leftLibrary = 0;
  started_ = false;
  return true;
}

void Thread::Abandon() {
  if (!started_) return;
  // The event stays: the thread still sets it when it ends.
  CloseHandle(AsHandle(handle));
  PinLibrary();
  handle = 0;
  leftLibrary = 0;
  started_ = false;
}

void Thread::Forget() {
  if (!started_) return;
  CloseHandle(AsHandle(handle));
  CloseHandle(AsHandle(leftLibrary));
  handle = 0;
  leftLibrary = 0;
  started_ = false;
}

void PinLibrary() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&PinLibrary), &self);
}

void SleepMs(std::uint32_t ms) { Sleep(ms); }

namespace {
// Read when the library loads. A function-local static would be a one-time
// initialisation on the unload path (closing a session times its X command), and
// the static threading runtime keeps a record (two handles) of the thread that
// waited on one, which the unload does not free.
const std::uint64_t frequency = [] {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<std::uint64_t>(f.QuadPart);
}();
}  // namespace

// The tick count moves in 10-16 ms steps; bounds of 20 ms need the performance counter.
std::uint64_t MonotonicMs() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const auto ticks = static_cast<std::uint64_t>(now.QuadPart);
  return ticks / frequency * 1000u + ticks % frequency * 1000u / frequency;
}

}  // namespace OpenPlotr
