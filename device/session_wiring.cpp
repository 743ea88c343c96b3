#include "device/session_wiring.h"

#include "device/port_commands.h"
#include "device/vorn_serial.h"

namespace OpenPlotr {

SessionWiring::SessionWiring(VornSerial &session)
    : session(session), router(session.protocol, *this, *this), assembler(router),
      commands(session.protocol, *this, *this, session.deviceText) {}

bool SessionWiring::SendCommand(char letter) { return OpenPlotr::SendCommand(session, letter); }

void SessionWiring::SendFieldMask(const std::vector<bool> &mask) { OpenPlotr::SendFieldMask(session, mask); }

bool SessionWiring::SendPeriodEntry(std::int32_t position) { return OpenPlotr::SendPeriodEntry(session, position); }

bool SessionWiring::PushLine(const char *bytes, std::size_t count) {
  return session.PushLine(bytes, static_cast<std::int32_t>(count));
}

void SessionWiring::ResetReceiveRing() { session.ResetRingForHost(); }

}  // namespace OpenPlotr
