#include "device/port_commands.h"

#include <string>

#include "device/protocol/frames.h"
#include "serial/transmit.h"

namespace OpenPlotr {

namespace {
bool Write(COMPort &port, const std::string &frame) {
  return WritePort(port, frame.data(), static_cast<std::int32_t>(frame.size()));
}
}  // namespace

bool SendCommand(COMPort &port, char letter) { return Write(port, CommandFrame(letter)); }

bool SendPeriodEntry(COMPort &port, std::int32_t position) {
  const std::string frame = PeriodEntryFrame(position);
  return !frame.empty() && Write(port, frame);
}

void SendFieldMask(COMPort &port, const std::vector<bool> &mask) { Write(port, FieldMaskFrame(mask)); }

}  // namespace OpenPlotr
