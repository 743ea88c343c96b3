// Arbitrary bytes in arbitrary chunks through the line assembler into the
// download, the decoder and the acknowledgement rules: no crash, no leak, and
// the download state always stays within 0..10.
#include <cstdint>
#include <cstdlib>

#include "device/protocol/line_assembler.h"
#include "device/protocol/protocol_router.h"

namespace {

class NullSinks : public OpenPlotr::CommandSink, public OpenPlotr::HostLineSink {
 public:
  bool SendCommand(char) override { return true; }
  void SendFieldMask(const std::vector<bool> &) override {}
  bool SendPeriodEntry(std::int32_t) override { return true; }
  bool PushLine(const char *, std::size_t count) override {
    if (count == 0) std::abort();
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2) return 0;
  OpenPlotr::ProtocolState state;
  NullSinks sinks;
  OpenPlotr::ProtocolRouter router(state, sinks, sinks);
  OpenPlotr::LineAssembler assembler(router);
  // The first bytes choose the starting state and the chunk sizes.
  state.downloadState = static_cast<OpenPlotr::DownloadState>(data[0] % 11);
  state.waitState = data[1] % 3;
  std::size_t pos = 2;
  std::size_t chunk = 1;
  while (pos < size) {
    chunk = 1 + (data[pos] * 131u + chunk) % 97;
    const std::size_t n = chunk < size - pos ? chunk : size - pos;
    assembler.AssembleLines(data + pos, n);
    pos += n;
    const std::int32_t s = state.downloadState;
    if (s < 0 || s > 10) std::abort();
    // Once streaming has begun, a later download may run again.
    if (state.streaming && (data[pos - 1] & 1)) {
      state.streaming = false;
      state.downloadState = OpenPlotr::kAwaitAcknowledgement;
    }
  }
  return 0;
}
