// What connects a session's port and ring to its protocol code: the command
// sender, the host-line sink, the ring control, and the line path itself.
#pragma once

#include "device/protocol/commands.h"
#include "device/protocol/line_assembler.h"
#include "device/protocol/protocol_router.h"

namespace OpenPlotr {

class VornSerial;

class SessionWiring : public CommandSink, public HostLineSink, public SessionControl {
 public:
  explicit SessionWiring(VornSerial &session);

  bool SendCommand(char letter) override;
  void SendFieldMask(const std::vector<bool> &mask) override;
  bool SendPeriodEntry(std::int32_t position) override;
  bool PushLine(const char *bytes, std::size_t count) override;
  void ResetReceiveRing() override;

  VornSerial &session;
  ProtocolRouter router;
  LineAssembler assembler;
  HostCommands commands;
};

}  // namespace OpenPlotr
