#include "discovery/dev_reg_enum.h"

namespace OpenPlotr {

DevRegEnum::~DevRegEnum() = default;

bool DevRegEnum::Next() {
  if (nextIndex < 0) return false;
  if (Fetch(nextIndex)) {
    currentIndex = nextIndex;
    ++nextIndex;
    return true;
  }
  // Devices behind a failing one are not listed: discovery reads this as the end.
  CloseList();
  nextIndex = -1;
  currentIndex = -1;
  return false;
}

std::u16string ExtractSerial(std::u16string_view text, char16_t separator) {
  const auto last = text.rfind(separator);
  if (last != std::u16string_view::npos) text.remove_prefix(last + 1);
  return std::u16string(text.substr(0, text.find(u'\\')));
}

bool DevRegEnum::GetDevicePath(std::u16string &out) {
  out = devicePath;
  return true;
}

std::u16string DevRegEnum::GetInstanceId() { return instanceId; }
std::u16string DevRegEnum::GetFriendlyName() { return friendlyName; }
std::u16string DevRegEnum::GetManufacturer() { return manufacturer; }

}  // namespace OpenPlotr
