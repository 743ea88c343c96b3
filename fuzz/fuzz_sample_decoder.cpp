// The sample decoder with a configuration made from the input: every output
// line starts with "@ ", ends with one line feed, and holds only digits,
// minus signs and commas in between.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "device/protocol/sample_decoder.h"

namespace {

class CheckingSink : public OpenPlotr::HostLineSink {
 public:
  bool PushLine(const char *bytes, std::size_t count) override {
    if (count < 3 || std::memcmp(bytes, "@ ", 2) != 0 || bytes[count - 1] != '\n') std::abort();
    for (std::size_t i = 2; i + 1 < count; ++i) {
      const char c = bytes[i];
      if (!((c >= '0' && c <= '9') || c == ',' || c == '-')) std::abort();
    }
    return true;
  }
};

float Take(const std::uint8_t *&data, std::size_t &size) {
  float v = 0;
  if (size >= sizeof v) {
    std::memcpy(&v, data, sizeof v);
    data += sizeof v;
    size -= sizeof v;
  }
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 3) return 0;
  auto configuration = std::make_shared<OpenPlotr::DeviceConfiguration>();
  const int names = data[0] % 12;
  const int limits = data[1] % 12;
  auto enabled = std::make_shared<OpenPlotr::EnabledChannels>();
  for (int p = -1; p < 14; ++p) {
    if (data[2] & (1u << (p & 7))) enabled->push_back(p);
  }
  data += 3;
  size -= 3;
  for (int i = 0; i < names; ++i) configuration->channelNames.push_back(u"n");
  for (int i = 0; i < limits; ++i) {
    configuration->channelMaxima.push_back(Take(data, size));
    configuration->channelMinima.push_back(Take(data, size));
  }
  OpenPlotr::ProtocolState state;
  state.configuration.store(configuration);
  state.enabledChannels.store(enabled);
  state.fieldCount = names;
  CheckingSink sink;
  OpenPlotr::SampleDecoder decoder(state, sink);
  std::u16string line;
  for (std::size_t i = 0; i < size; ++i) line.push_back(static_cast<char16_t>(static_cast<std::int8_t>(data[i])));
  decoder.DecodeSampleLine(line);
  return 0;
}
