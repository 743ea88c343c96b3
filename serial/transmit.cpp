#include "serial/transmit.h"

#include <string>

#include "serial/com_port.h"
#include "serial/event_thread.h"

namespace OpenPlotr {

bool WritePort(COMPort &port, const char *bytes, std::int32_t length) {
  const std::uint64_t started = MonotonicMs();
  switch (port.Port().Write(bytes, length, kWriteBoundMs)) {
    case WriteOutcome::kDone:
      return true;
    case WriteOutcome::kTimedOut:
      return false;
    case WriteOutcome::kFailed:
      break;
  }
  // A write that fails outright still costs the full bound: the callers' retry loops
  // (S until the device answers) are paced by it.
  const std::uint64_t spent = MonotonicMs() - started;
  if (spent < kWriteBoundMs) SleepMs(static_cast<std::uint32_t>(kWriteBoundMs - spent));
  return false;
}

bool SendCommand(COMPort &port, char letter) {
  const char frame[3] = {':', letter, '\n'};
  return WritePort(port, frame, 3);
}

bool SendPeriodEntry(COMPort &port, std::int32_t position) {
  if (position < 0) return false;
  char digits[12];
  std::int32_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + position % 10);
    position /= 10;
  } while (position > 0);
  char frame[16] = {':', 'P'};
  std::int32_t length = 2;
  while (count > 0) frame[length++] = digits[--count];
  frame[length++] = '\n';
  return WritePort(port, frame, length);
}

void SendFieldMask(COMPort &port, const std::vector<bool> &mask) {
  std::string frame;
  frame.reserve(mask.size() + 3);
  frame += ":U";
  for (const bool selected : mask) frame += selected ? '1' : '0';
  frame += '\r';
  WritePort(port, frame.data(), static_cast<std::int32_t>(frame.size()));
}

}  // namespace OpenPlotr
