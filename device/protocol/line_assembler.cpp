#include "device/protocol/line_assembler.h"

namespace OpenPlotr {

LineAssembler::LineAssembler(LineRouter &router) : router_(router) { lineBuffer.reserve(kMaxLineLength); }

void LineAssembler::Reset() {
  lineBuffer.clear();
  skipLineFeed_ = false;
  overlong_ = false;
}

QVX::Status LineAssembler::AssembleLines(const std::uint8_t *bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t byte = bytes[i];
    // The device ends lines with CR LF; only a real LF after a CR is passed over,
    // even when the pair is split between two reads.
    if (skipLineFeed_) {
      skipLineFeed_ = false;
      if (byte == 0x0A) continue;
    }
    if (byte != 0x0D) {
      if (overlong_) continue;
      if (lineBuffer.size() >= kMaxLineLength) {
        lineBuffer.clear();
        overlong_ = true;
        continue;
      }
      // Each byte is one Latin-1 character, so a unit such as "°C" (0xB0) reaches the
      // host as itself in its own code page.
      lineBuffer.push_back(static_cast<char16_t>(byte));
      continue;
    }
    skipLineFeed_ = true;
    if (overlong_) {
      overlong_ = false;
      continue;
    }
    const QVX::Status result = router_.RouteLine(lineBuffer);
    lineBuffer.clear();
    // The rest of the chunk is dropped; the LF mark stays, so that when this CR
    // ended the read its LF, at the start of the next one, is still passed over.
    if (result != QVX::kStatusOk) return QVX::kStatusFail;
  }
  return QVX::kStatusOk;
}

}  // namespace OpenPlotr
