// Routes each complete line by the protocol state: the download while it runs,
// the sample decoder while streaming, otherwise the acknowledgement waits.
#pragma once

#include "device/protocol/download.h"
#include "device/protocol/line_assembler.h"
#include "device/protocol/protocol_state.h"
#include "device/protocol/sample_decoder.h"

namespace OpenPlotr {

class ProtocolRouter : public LineRouter {
 public:
  ProtocolRouter(ProtocolState &state, CommandSink &commands, HostLineSink &hostLines)
      : state_(state), download_(state, commands), decoder_(state, hostLines) {}

  QVX::Status RouteLine(std::u16string_view line) override;

 private:
  QVX::Status Route(std::u16string_view line);

  ProtocolState &state_;
  ConfigurationDownload download_;
  SampleDecoder decoder_;
};

}  // namespace OpenPlotr
