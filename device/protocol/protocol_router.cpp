#include "device/protocol/protocol_router.h"

namespace OpenPlotr {

QVX::Status ProtocolRouter::RouteLine(std::u16string_view line) {
  const QVX::Status result = Route(line);
  // Host threads polling the protocol fields wake at once instead of at their next step.
  if (!state_.streaming) state_.signal.Notify();
  return result;
}

QVX::Status ProtocolRouter::Route(std::u16string_view line) {
  if (state_.IsDownloading()) return download_.HandleDownloadLine(line);
  if (state_.streaming) return decoder_.DecodeSampleLine(line);
  const char16_t first = line.empty() ? u'\0' : line.front();
  const std::int32_t wait = state_.waitState;
  if (wait == kAwaitS && first == u'S') {
    state_.acknowledged = true;
    state_.waitState = kNoWait;
  } else if (wait == kAwaitB && first == u'B') {
    // streaming is set before the wait ends, so a stop that sees the wait over also
    // sees the stream. A start or stop that took the B wait over first wins: the
    // stream stays off.
    state_.streaming = true;
    std::int32_t awaitingB = kAwaitB;
    if (state_.waitState.compare_exchange_strong(awaitingB, kNoWait)) {
      state_.acknowledged = false;
    } else {
      state_.streaming = false;
    }
    state_.signal.Notify();
  }
  return QVX::kStatusOk;
}

}  // namespace OpenPlotr
