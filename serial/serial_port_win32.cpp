#include <windows.h>

#include <cstring>
#include <memory>
#include <new>

#include "serial/event_thread.h"
#include "serial/serial_port.h"

namespace OpenPlotr {

namespace {

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// How often a pending comm-event wait is checked against the input queue, and how
// long an ended wait is given to complete.
constexpr DWORD kQueueCheckMs = 250;
constexpr DWORD kEndWaitMs = 500;
// How long a cancelled read or write is given to complete. A driver that never
// completes it must not hang the host: the operation's record is abandoned then.
constexpr DWORD kCancelWaitMs = 100;
// Under the port's time-outs a read completes at once; one that stays pending this
// long is cancelled.
constexpr DWORD kReadWaitMs = 500;

// One read or write with everything the system may still write to or read from
// while it is pending: the OVERLAPPED record, its event and the bytes.
struct IoRecord {
  OVERLAPPED overlapped = {};
  std::unique_ptr<char[]> bytes;
  std::int32_t capacity = 0;
  IoRecord *next = nullptr;

  ~IoRecord() {
    if (overlapped.hEvent) CloseHandle(overlapped.hEvent);
  }

  static IoRecord *Make(std::int32_t size) {
    std::unique_ptr<IoRecord> record(new (std::nothrow) IoRecord());
    if (!record) return nullptr;
    record->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    record->bytes.reset(new (std::nothrow) char[size > 0 ? size : 1]);
    if (!record->overlapped.hEvent || !record->bytes) return nullptr;
    record->capacity = size;
    return record.release();
  }

  void Rearm() {
    const HANDLE event = overlapped.hEvent;
    overlapped = {};
    overlapped.hEvent = event;
    ResetEvent(event);
  }

  bool Done() const { return HasOverlappedIoCompleted(&overlapped); }
};

// Cancels a pending operation and waits, bounded, for it to complete; false when it
// did not, and the record must then outlive the call.
bool CancelAndComplete(HANDLE port, IoRecord &record) {
  CancelIoEx(port, &record.overlapped);
  if (WaitForSingleObject(record.overlapped.hEvent, kCancelWaitMs) != WAIT_OBJECT_0 && !record.Done()) return false;
  DWORD transferred = 0;
  GetOverlappedResult(port, &record.overlapped, &transferred, FALSE);
  return true;
}

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
  bool lost = false;  // an End gave up on it: later ones do not wait again

  // A new mask ends a pending comm-event wait on every port driver, also where the
  // wait does not heed a cancellation (Wine's polling wait). Bounded: a wait the
  // driver lost never completes, and then stays pending.
  void End(HANDLE port) {
    if (!pending) return;
    if (!lost) {
      CancelIoEx(port, &overlapped);
      SetCommMask(port, 0);
    }
    const DWORD bound = lost ? 0 : kEndWaitMs;
    if (WaitForSingleObject(overlapped.hEvent, bound) != WAIT_OBJECT_0 && !HasOverlappedIoCompleted(&overlapped)) {
      lost = true;
      return;
    }
    lost = false;
    DWORD transferred = 0;
    GetOverlappedResult(port, &overlapped, &transferred, FALSE);
    pending = false;
  }
};

// The receive thread's read record, reused from read to read, and the records of
// reads and writes given up whose cancellation has not completed yet. Writes come
// from host threads and the receive thread at once.
struct SerialPort::IoRecords {
  SRWLOCK lock = SRWLOCK_INIT;
  IoRecord *abandoned = nullptr;
  IoRecord *read = nullptr;

  void Abandon(IoRecord *record) {
    AcquireSRWLockExclusive(&lock);
    record->next = abandoned;
    abandoned = record;
    ReleaseSRWLockExclusive(&lock);
  }

  // Frees the abandoned records that have completed meanwhile.
  void Sweep() {
    AcquireSRWLockExclusive(&lock);
    for (IoRecord **link = &abandoned; *link;) {
      IoRecord *record = *link;
      if (record->Done()) {
        *link = record->next;
        delete record;
      } else {
        link = &record->next;
      }
    }
    ReleaseSRWLockExclusive(&lock);
  }

  // With the port closed: what is still pending stays allocated for good, since
  // the system may still complete it.
  ~IoRecords() {
    Sweep();
    delete read;
  }
};

bool SerialPort::Open(const char16_t *name) {
  Close();
  HANDLE port = CreateFileW(reinterpret_cast<const wchar_t *>(name), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  handle = reinterpret_cast<std::intptr_t>(port);
  if (IsOpen()) ioRecords = new (std::nothrow) IoRecords();
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
  delete ioRecords;
  ioRecords = nullptr;
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
    wait.lost = false;
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
  if (!ioRecords || size < 0) return -1;
  IoRecord *&record = ioRecords->read;
  if (record && record->capacity < size) {
    delete record;
    record = nullptr;
  }
  if (!record) record = IoRecord::Make(size);
  if (!record) return -1;
  record->Rearm();
  DWORD transferred = 0;
  std::int32_t result = -1;
  if (ReadFile(port, record->bytes.get(), static_cast<DWORD>(size), &transferred, &record->overlapped)) {
    result = static_cast<std::int32_t>(transferred);
  } else if (GetLastError() == ERROR_IO_PENDING) {
    if (WaitForSingleObject(record->overlapped.hEvent, kReadWaitMs) != WAIT_OBJECT_0 &&
        !CancelAndComplete(port, *record)) {
      // The system may still fill this record's bytes; the next read gets another.
      ioRecords->Abandon(record);
      record = nullptr;
      return -1;
    }
    // Completed, never issued again into the same buffer.
    if (GetOverlappedResult(port, &record->overlapped, &transferred, FALSE)) {
      result = static_cast<std::int32_t>(transferred);
    }
  }
  if (result < 0) {
    // Wine ends an empty read of a tty as the end of a file, or aborts it on a port
    // without modem lines: nothing was waiting. A port that went away no longer
    // answers for its queues.
    const DWORD error = GetLastError();
    if ((error == ERROR_HANDLE_EOF || error == ERROR_OPERATION_ABORTED) && PortAnswers(port)) result = 0;
  }
  if (result > 0) std::memcpy(buffer, record->bytes.get(), static_cast<std::size_t>(result));
  return result;
}

WriteOutcome SerialPort::Write(const char *bytes, std::int32_t length, std::uint32_t boundMs) {
  HANDLE port = AsHandle(handle);
  if (!IsOpen() || length < 0) return WriteOutcome::kFailed;
  if (ioRecords) ioRecords->Sweep();
  // The bytes are copied: the caller's go away with the call, a write given up may not.
  std::unique_ptr<IoRecord> record(IoRecord::Make(length));
  if (!record) return WriteOutcome::kFailed;
  if (length > 0) std::memcpy(record->bytes.get(), bytes, static_cast<std::size_t>(length));
  DWORD written = 0;
  if (WriteFile(port, record->bytes.get(), static_cast<DWORD>(length), &written, &record->overlapped)) {
    return WriteOutcome::kDone;
  }
  if (GetLastError() != ERROR_IO_PENDING) return WriteOutcome::kFailed;
  const DWORD waited = WaitForSingleObject(record->overlapped.hEvent, boundMs);
  if (waited == WAIT_OBJECT_0) {
    return GetOverlappedResult(port, &record->overlapped, &written, FALSE) ? WriteOutcome::kDone
                                                                           : WriteOutcome::kFailed;
  }
  const WriteOutcome outcome = waited == WAIT_TIMEOUT ? WriteOutcome::kTimedOut : WriteOutcome::kFailed;
  if (!CancelAndComplete(port, *record)) {
    // Kept until the system completes it; without the port's list, for good.
    if (ioRecords) {
      ioRecords->Abandon(record.release());
    } else {
      record.release();
    }
  }
  return outcome;
}

void SerialPort::CancelPending() {
  if (IsOpen()) CancelIoEx(AsHandle(handle), nullptr);
}

}  // namespace OpenPlotr
