#include "discovery/serial_key.h"

namespace OpenPlotr {

std::optional<std::u16string> VornSerialRemainder(std::u16string_view key) {
  if (!key.starts_with(kVscPrefix) && !key.starts_with(kA800Prefix)) return std::nullopt;
  return std::u16string(key.substr(kVscPrefix.size()));
}

std::int32_t UniqueIdFromSerial(std::u16string_view text) {
  // Serial numbers of ordinary length lose two characters at each end; a text
  // of two or three characters keeps what follows its first two, a shorter one
  // has no part at all.
  std::u16string_view part;
  if (text.size() >= 4) {
    part = text.substr(2, text.size() - 4);
  } else if (text.size() >= 2) {
    part = text.substr(2);
  }
  // Unsigned, so that long serial numbers wrap instead of overflowing.
  std::uint32_t id = 0;
  for (char16_t c : part) id = id * 42u + (static_cast<std::uint32_t>(c) - 48u);
  return static_cast<std::int32_t>(id);
}

}  // namespace OpenPlotr
