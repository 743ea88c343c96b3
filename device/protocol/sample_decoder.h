// Turns each data line of the sample stream into one "@ " host line of the
// enabled channels, scaled to 0..32767.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "device/protocol/device_configuration.h"
#include "device/protocol/host_line_sink.h"
#include "device/protocol/protocol_state.h"
#include "support/status.h"

namespace OpenPlotr {

// Maps value x of channel position p; unscaled (truncated, saturated) without bounds for p.
std::int32_t ScaleSample(const DeviceConfiguration &configuration, std::int32_t p, float x);

class SampleDecoder {
 public:
  SampleDecoder(ProtocolState &state, HostLineSink &sink);

  // Always 0: short lines and lines without a configuration leave no trace.
  QVX::Status DecodeSampleLine(std::u16string_view line);

 private:
  ProtocolState &state_;
  HostLineSink &sink_;
  // Reused for every line so that steady streaming allocates nothing.
  std::vector<std::u16string_view> fields_;
  std::string output_;
  Snapshot<DeviceConfiguration>::Reader configuration_;
  Snapshot<EnabledChannels>::Reader enabled_;
};

}  // namespace OpenPlotr
