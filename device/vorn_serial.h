// VornSerial: the driver's whole state for one discovered device.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "serial/com_port.h"

struct CommandRecord;

namespace OpenPlotr {

class VornSerial : public COMPort {
 public:
  VornSerial(std::u16string portName, std::int32_t uniqueId, std::u16string deviceText);
  ~VornSerial() override;

  void Close() override;
  std::int32_t InitialiseSession(const std::u16string &portName);

  // Host reads from the receive ring; a session that was never initialised reads as empty.
  std::int32_t ReadLineFromRing(char *buffer, std::int32_t maxLen, std::uint32_t timeoutMs);
  std::int32_t ReadBlockFromRing(char *buffer, std::int32_t count, std::uint32_t timeoutMs);
  std::int32_t BytesWaiting() const;
  void FlushReadBuffer();

  bool ExecuteCommand(std::uint32_t code, CommandRecord *record);
  std::int32_t TakeErrorText(char *buffer);

  const std::u16string portName;
  const std::u16string deviceText;
  const std::int32_t uniqueId;

  std::atomic<bool> wrongFirmware{false};
  std::atomic<bool> notResponding{false};
  std::atomic<bool> failed{false};
};

}  // namespace OpenPlotr
