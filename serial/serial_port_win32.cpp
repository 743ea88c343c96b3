#include <windows.h>

#include <new>

#include "serial/event_thread.h"
#include "serial/serial_port.h"

namespace OpenPlotr {

namespace {

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// The OVERLAPPED record lives on the caller's stack: it may not go away while the
// system still owns it.
void CancelAndComplete(HANDLE port, OVERLAPPED &overlapped) {
  DWORD transferred = 0;
  CancelIoEx(port, &overlapped);
  GetOverlappedResult(port, &overlapped, &transferred, TRUE);
}

// How often a pending comm-event wait is checked against the input queue, and how
// long an ended wait is given to complete.
constexpr DWORD kQueueCheckMs = 250;
constexpr DWORD kEndWaitMs = 500;

DWORD BytesQueued(HANDLE port) {
  DWORD errors = 0;
  COMSTAT status = {};
  return ClearCommError(port, &errors, &status) ? status.cbInQue : 0;
}

bool PortAnswers(HANDLE port) {
  DWORD errors = 0;
  COMSTAT status = {};
  return ClearCommError(port, &errors, &status) != 0;
}

CharWait FromMask(DWORD mask) { return (mask & EV_RXCHAR) ? CharWait::kChars : CharWait::kNothing; }

}  // namespace

// Outlives the call that issued the wait: a wait that does not complete in time stays
// armed here, where the system may still write to it, and is waited on again later.
struct SerialPort::CommWait {
  OVERLAPPED overlapped = {};
  DWORD mask = 0;
  bool pending = false;

  // A new mask ends a pending comm-event wait on every port driver, also where the
  // wait does not heed a cancellation (Wine's polling wait). Bounded: a wait the
  // driver lost never completes, and then stays pending.
  void End(HANDLE port) {
    if (!pending) return;
    CancelIoEx(port, &overlapped);
    SetCommMask(port, 0);
    if (WaitForSingleObject(overlapped.hEvent, kEndWaitMs) != WAIT_OBJECT_0 && !HasOverlappedIoCompleted(&overlapped)) {
      return;
    }
    DWORD transferred = 0;
    GetOverlappedResult(port, &overlapped, &transferred, FALSE);
    pending = false;
  }
};

bool SerialPort::Open(const char16_t *name) {
  Close();
  HANDLE port = CreateFileW(reinterpret_cast<const wchar_t *>(name), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  handle = reinterpret_cast<std::intptr_t>(port);
  return IsOpen();
}

void SerialPort::Close() {
  if (!IsOpen()) return;
  HANDLE port = AsHandle(handle);
  if (commWait) commWait->End(port);
  CloseHandle(port);
  handle = kClosed;
  // A wait that never completed keeps its record: the system may still write to it.
  if (commWait && !commWait->pending) delete commWait;
  commWait = nullptr;
}

ConfigureOutcome SerialPort::Configure(std::int32_t rate, std::int32_t rtsControl) {
  HANDLE port = AsHandle(handle);
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port, &dcb)) return ConfigureOutcome::kRejected;
  if (rate > 0) dcb.BaudRate = static_cast<DWORD>(rate);
  // The Xon/Xoff, error and null flags keep what the port reported.
  dcb.fBinary = 1;
  dcb.fParity = 0;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fDsrSensitivity = 0;
  dcb.fRtsControl = static_cast<DWORD>(rtsControl) & 3u;
  dcb.fAbortOnError = 0;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  if (!SetCommState(port, &dcb)) return ConfigureOutcome::kRejected;

  COMMTIMEOUTS timeouts = {};
  if (!GetCommTimeouts(port, &timeouts)) return ConfigureOutcome::kLineOnly;
  // Every read completes at once with what is buffered; the receive loop waits through
  // comm events instead, and writes bound their own wait.
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 0;
  if (!SetCommTimeouts(port, &timeouts)) return ConfigureOutcome::kLineOnly;
  return ConfigureOutcome::kDone;
}

bool SerialPort::CurrentRate(std::int32_t &rate) const {
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(AsHandle(handle), &dcb)) return false;
  rate = static_cast<std::int32_t>(dcb.BaudRate);
  return true;
}

CharWait SerialPort::WaitForChars(Event &commEvent, Event &stopEvent) {
  HANDLE port = AsHandle(handle);
  if (!commWait) commWait = new (std::nothrow) CommWait();
  if (!commWait) return CharWait::kFailed;
  CommWait &wait = *commWait;
  if (!wait.pending) {
    if (!SetCommMask(port, EV_RXCHAR)) return CharWait::kFailed;
    wait.overlapped = {};
    wait.overlapped.hEvent = reinterpret_cast<HANDLE>(commEvent.Native());
    wait.mask = 0;
    if (WaitCommEvent(port, &wait.mask, &wait.overlapped)) {
      // Completed at once (Wine does so whenever bytes are already buffered): the mask
      // is filled, and the completion also signalled commEvent, which the next wait must not see.
      ResetEvent(wait.overlapped.hEvent);
      return FromMask(wait.mask);
    }
    const DWORD error = GetLastError();
    if (error == ERROR_OPERATION_ABORTED) return CharWait::kAborted;
    if (error != ERROR_IO_PENDING) return CharWait::kFailed;
    wait.pending = true;
  }

  const HANDLE pair[2] = {wait.overlapped.hEvent, reinterpret_cast<HANDLE>(stopEvent.Native())};
  for (;;) {
    const DWORD woken = WaitForMultipleObjects(2, pair, FALSE, kQueueCheckMs);
    if (woken == WAIT_OBJECT_0) {
      DWORD transferred = 0;
      if (GetOverlappedResult(port, &wait.overlapped, &transferred, FALSE)) {
        wait.pending = false;
        return FromMask(wait.mask);
      }
      const DWORD result = GetLastError();
      // A stale signal of commEvent: our wait is still pending.
      if (result == ERROR_IO_INCOMPLETE) continue;
      wait.pending = false;
      // USB CDC drivers end waits on line-state changes; Wine does it on a pty.
      if (result == ERROR_OPERATION_ABORTED) return CharWait::kAborted;
      return CharWait::kFailed;
    }
    if (woken == WAIT_TIMEOUT) {
      // A wait that the port driver lost (Wine's, under load) would hold the bytes back
      // for ever: what is queued is read while the wait stays armed.
      if (BytesQueued(port) > 0) return CharWait::kChars;
      continue;
    }
    wait.End(port);
    return woken == WAIT_OBJECT_0 + 1 ? CharWait::kStop : CharWait::kFailed;
  }
}

CharWait SerialPort::WaitAfterFailure(Event &commEvent, Event &stopEvent) {
  switch (WaitForEither(commEvent, stopEvent, kWaitForever)) {
    case WaitOutcome::kFirst: return CharWait::kChars;
    case WaitOutcome::kSecond: return CharWait::kStop;
    default: return CharWait::kFailed;
  }
}

std::int32_t SerialPort::ReadChunk(char *buffer, std::int32_t size) {
  HANDLE port = AsHandle(handle);
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!done) return -1;
  OVERLAPPED overlapped = {};
  overlapped.hEvent = done;
  DWORD transferred = 0;
  std::int32_t result = -1;
  if (ReadFile(port, buffer, static_cast<DWORD>(size), &transferred, &overlapped)) {
    result = static_cast<std::int32_t>(transferred);
  } else if (GetLastError() == ERROR_IO_PENDING &&
             GetOverlappedResult(port, &overlapped, &transferred, TRUE)) {
    // Completed, never issued again into the same buffer.
    result = static_cast<std::int32_t>(transferred);
  } else {
    // Wine ends an empty read of a tty as the end of a file, or aborts it on a port
    // without modem lines: nothing was waiting. A port that went away no longer
    // answers for its queues.
    const DWORD error = GetLastError();
    if ((error == ERROR_HANDLE_EOF || error == ERROR_OPERATION_ABORTED) && PortAnswers(port)) result = 0;
  }
  CloseHandle(done);
  return result;
}

WriteOutcome SerialPort::Write(const char *bytes, std::int32_t length, std::uint32_t boundMs) {
  HANDLE port = AsHandle(handle);
  if (!IsOpen()) return WriteOutcome::kFailed;
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!done) return WriteOutcome::kFailed;
  OVERLAPPED overlapped = {};
  overlapped.hEvent = done;
  DWORD written = 0;
  WriteOutcome outcome = WriteOutcome::kFailed;
  if (WriteFile(port, bytes, static_cast<DWORD>(length), &written, &overlapped)) {
    outcome = WriteOutcome::kDone;
  } else if (GetLastError() == ERROR_IO_PENDING) {
    const DWORD waited = WaitForSingleObject(done, boundMs);
    if (waited == WAIT_OBJECT_0) {
      outcome = GetOverlappedResult(port, &overlapped, &written, FALSE) ? WriteOutcome::kDone : WriteOutcome::kFailed;
    } else {
      CancelAndComplete(port, overlapped);
      outcome = waited == WAIT_TIMEOUT ? WriteOutcome::kTimedOut : WriteOutcome::kFailed;
    }
  }
  CloseHandle(done);
  return outcome;
}

void SerialPort::CancelPending() {
  if (IsOpen()) CancelIoEx(AsHandle(handle), nullptr);
}

}  // namespace OpenPlotr
