// The host's command codes: answers from the configuration, or actions on the device.
#pragma once

#include <cstdint>
#include <string>

#include "device/protocol/command_sink.h"
#include "device/protocol/protocol_state.h"
#include "vorn.h"

namespace OpenPlotr {

// What a command needs of the session besides its protocol fields.
class SessionControl {
 public:
  virtual ~SessionControl() = default;
  // Empties the receive ring from the host's side (start of sampling).
  virtual void ResetReceiveRing() = 0;
};

class HostCommands {
 public:
  HostCommands(ProtocolState &state, CommandSink &sink, SessionControl &session, const std::u16string &deviceText)
      : state_(state), sink_(sink), session_(session), deviceText_(deviceText) {}

  bool ExecuteCommand(std::uint32_t code, CommandRecord &record);

  // Sends S and then P for the position of value among the period choices.
  // False when nothing could be sent for it.
  bool SendPeriodSelect(std::int32_t value);

 private:
  bool WaitForConfiguration();
  bool WaitUntilNoAckWait();
  bool StartStreaming();
  bool StopStreaming();
  // Sends S until the device acknowledges it; false after the acknowledgement limit.
  bool RequestAcknowledgement();

  ProtocolState &state_;
  CommandSink &sink_;
  SessionControl &session_;
  const std::u16string &deviceText_;
};

// The control-list script handed to the host: RCDATA 105 and one line feed.
std::u16string ControlListReply();

// The period choices as host text: last entry first, comma-separated.
std::u16string PeriodListText(const DeviceConfiguration &configuration);

}  // namespace OpenPlotr
