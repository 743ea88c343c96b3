// What the protocol code sends to the device; the session writes it to its port.
#pragma once

#include <cstdint>
#include <vector>

namespace OpenPlotr {

class CommandSink {
 public:
  virtual ~CommandSink() = default;
  // Colon, letter, line feed.
  virtual bool SendCommand(char letter) = 0;
  // Colon, U, one digit per field (1 selected, 0 not), carriage return.
  virtual void SendFieldMask(const std::vector<bool> &mask) = 0;
  // Colon, P, the position in decimal, line feed (0 to 99).
  virtual bool SendPeriodEntry(std::int32_t position) = 0;
};

}  // namespace OpenPlotr
