#include "tools/vornctl/driver_calls.h"

#include <cmath>
#include <limits>

#include "tools/vornctl/driver_text.h"

namespace vornctl {

namespace {
// Large enough for the control-list script, the longest reply a device gives.
constexpr std::int32_t kReplyBytes = 64 * 1024;
}  // namespace

std::string GeneralMessage(const vorn_host::VornLibrary &lib) {
  const std::int32_t size = lib.GetLastErrorMsg(-1, nullptr);
  if (size <= 0) return {};
  // One spare byte so the text is terminated even if the copy fills its size.
  std::vector<char> buffer(static_cast<std::size_t>(size) + 1, '\0');
  lib.GetLastErrorMsg(-1, buffer.data());
  return DriverTextToUtf8(buffer.data());
}

std::string DriverSays(const std::string &message) {
  std::string line;
  for (char c : message) {
    if (c == '\n' || c == '\r') {
      if (!line.empty() && line.back() != ' ') line += ' ';
    } else {
      line += c;
    }
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return "the driver says: \"" + line + "\"";
}

DriverVerdict ReadVerdict(const std::string &generalMessage) {
  // The driver's texts are fixed; these are the parts that name the cause.
  if (generalMessage.find("wrong firmware version") != std::string::npos) return DriverVerdict::WrongFirmware;
  if (generalMessage.find("not responding") != std::string::npos) return DriverVerdict::NotResponding;
  return DriverVerdict::Other;
}

std::vector<std::int32_t> FindAllDevices(const vorn_host::VornLibrary &lib) {
  std::vector<std::int32_t> found;
  // Bounded so a driver that never says "no more" cannot hang the recorder.
  for (int i = 0; i < 256; ++i) {
    std::int32_t index = -1;
    if (lib.FindDevice(&index) != 1) break;
    found.push_back(index);
  }
  return found;
}

CommandReply RunCommand(const vorn_host::VornLibrary &lib, std::int32_t index, std::uint32_t code,
                        std::int32_t argument) {
  std::vector<char> text(static_cast<std::size_t>(kReplyBytes) + 1, '\0');
  CommandRecord record{};
  record.textBuffer = text.data();
  record.textLength = kReplyBytes;
  record.argument = argument;
  record.floatResult = std::numeric_limits<float>::quiet_NaN();
  CommandReply reply;
  reply.ok = lib.DeviceCommand(index, code, &record) == 1;
  reply.text = DriverTextToUtf8(text.data());
  reply.intResult = record.intResult;
  if (!std::isnan(record.floatResult)) reply.floatResult = record.floatResult;
  return reply;
}

}  // namespace vornctl
