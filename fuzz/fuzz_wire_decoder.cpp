// Any bytes: the decoder answers with a message or an error, never reads past
// the input or allocates beyond its size; what it accepts encodes back to the
// same bytes when the header carries no fields of a later revision.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tools/vornwire/wire_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  vornwire::DataMessage message;
  const vornwire::DecodeResult result = vornwire::DecodeData(data, size, message);
  if (!result.ok()) {
    if (result.error.empty()) std::abort();
    return 0;
  }
  if (message.values.size() * 2 > size || message.malformed.size() != message.header.rows) std::abort();
  const std::size_t headerSize = data[4] | (data[5] << 8);
  if (headerSize == vornwire::kFixedHeaderSize + message.header.serial.size()) {
    // Unused bits of the last bitmap byte may be set in the input; the encoder writes zeros.
    const std::string again = vornwire::EncodeData(message);
    if (again.size() != size) std::abort();
    const std::size_t bitmapEnd = headerSize + (message.header.rows + 7) / 8;
    if (std::memcmp(again.data(), data, headerSize) != 0) std::abort();
    if (std::memcmp(again.data() + bitmapEnd, data + bitmapEnd, size - bitmapEnd) != 0) std::abort();
  }
  return 0;
}
