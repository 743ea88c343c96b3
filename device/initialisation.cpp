// The initialisation exchange: open the port, start the receive thread, make the
// device answer, wait for its version, and admit it only with the required firmware.
#include "device/session_wiring.h"
#include "device/vorn_serial.h"
#include "device/protocol/host_text_io.h"
#include "firmware/firmware_requirements.h"

namespace OpenPlotr {

std::int32_t VornSerial::InitialiseSession(const std::u16string &path) {
  // The new thread starts from clean protocol fields, not the previous exchange's.
  protocol.ResetForNewExchange();
  wiring->assembler.Reset();
  const QVX::Status opened = StartTransport(path);

  StartDownload();

  // The version reply moves the download past kAwaitVersion; wake on it, keep the deadline.
  auto versionRead = [this] { return protocol.downloadState.load() > kAwaitVersion; };
  const auto step = protocol.timing.longStep;
  for (auto elapsed = std::chrono::milliseconds(0); !versionRead(); elapsed += step) {
    if (elapsed > protocol.timing.longLimit) {
      protocol.notResponding = true;
      failed = true;
      return QVX::kStatusFail;
    }
    protocol.signal.WaitFor(versionRead, step);
  }

  if (!FirmwareGate()) {
    wrongFirmware = true;
    failed = true;
    return QVX::kStatusFail;
  }
  return opened;
}

void VornSerial::StartDownload() {
  protocol.downloadState = kAwaitAcknowledgement;
  protocol.streaming = false;
  protocol.waitState = kNoWait;
  protocol.acknowledged = false;
  auto answered = [this] { return protocol.downloadState.load() != kAwaitAcknowledgement; };
  const auto step = protocol.timing.ackStep;
  for (auto elapsed = std::chrono::milliseconds(0); elapsed <= protocol.timing.ackLimit; elapsed += step) {
    wiring->SendCommand('S');
    if (protocol.signal.WaitFor(answered, step)) break;
  }
}

bool VornSerial::FirmwareGate() const {
  std::int32_t required = 1;
  {
    const FirmwareRequirements requirements;
    if (requirements.loaded) required = requirements.requiredRevision;
  }
  const std::shared_ptr<const VersionInfo> version = protocol.version.load();
  const std::int32_t revision = RevisionFromText(version ? version->firmwareRevision : std::u16string());
  return required != 0 && revision == required;
}

QVX::Status VornSerial::HandleChunk(const char *bytes, std::int32_t count) {
  return wiring->assembler.AssembleLines(reinterpret_cast<const std::uint8_t *>(bytes),
                                         count > 0 ? static_cast<std::size_t>(count) : 0);
}

bool VornSerial::ExecuteCommand(std::uint32_t code, CommandRecord *record) {
  return wiring->commands.ExecuteCommand(code, *record);
}

std::int32_t VornSerial::TakeErrorText(char *buffer) {
  const std::int32_t size = static_cast<std::int32_t>(errorText.size() + 1);
  if (!buffer) return size;
  CopyTextToHost(errorText, buffer);
  errorText.clear();
  return size;
}

}  // namespace OpenPlotr
