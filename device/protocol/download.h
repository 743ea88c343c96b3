// The configuration download: a state machine fed one complete line at a time
// on the receive thread.
#pragma once

#include <memory>
#include <string_view>

#include "device/protocol/command_sink.h"
#include "device/protocol/device_configuration.h"
#include "device/protocol/protocol_state.h"
#include "support/status.h"

namespace OpenPlotr {

class ConfigurationDownload {
 public:
  ConfigurationDownload(ProtocolState &state, CommandSink &sink) : state_(state), sink_(sink) {}

  // 0, or kStatusAbort when the names line does not match the field count.
  QVX::Status HandleDownloadLine(std::u16string_view line);

 private:
  void ParseVersionLine(std::u16string_view line);
  void CountFields(std::u16string_view line);
  void ParsePeriodLine(std::u16string_view line);
  bool ParseNameLine(std::u16string_view line);
  void ParseUnitLine(std::u16string_view line);
  void ParseLimitLine(std::u16string_view line, std::vector<float> &list, float naValue, std::uint8_t bit);
  void Publish();

  ProtocolState &state_;
  CommandSink &sink_;
  bool echoSeen_ = false;  // set by the F and the I echo, never cleared
  std::unique_ptr<DeviceConfiguration> working_;
};

}  // namespace OpenPlotr
