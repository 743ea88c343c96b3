#include <windows.h>

#include "serial/event_thread.h"

namespace OpenPlotr {

namespace {

// A thread past its body only unwinds and runs the DLL thread-detach notifications;
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
  static DWORD WINAPI Run(LPVOID self) {
    auto *owner = static_cast<Thread *>(self);
    const Thread::Body body = owner->body_;
    void *const argument = owner->argument_;
    return body(argument);
  }
};

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

bool Thread::Start(Body body, void *argument) {
  Release();
  body_ = body;
  argument_ = argument;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, ThreadLauncher::Run, this, 0, &id);
  if (!thread) return false;
  SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
  handle = reinterpret_cast<std::intptr_t>(thread);
  started_ = true;
  return true;
}

void Thread::Release(bool awaitExit) {
  if (!started_) return;
  // The body has signalled its end, but the thread still returns through our code;
  // a host that calls CloseAll and then FreeLibrary would unmap it under the thread.
  // Under the detach notification the wait would only time out: the exit needs the
  // loader lock, which the caller holds then.
  if (awaitExit) WaitForSingleObject(AsHandle(handle), kExitWaitMs);
  CloseHandle(AsHandle(handle));
  handle = 0;
  started_ = false;
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
