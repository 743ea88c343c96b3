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

void DevRegEnum::ExtractSerial(std::u16string &text, char16_t separator) {
  const auto last = text.rfind(separator);
  if (last != std::u16string::npos) text.erase(0, last + 1);
  const auto backslash = text.find(u'\\');
  if (backslash != std::u16string::npos) text.erase(backslash);
}

bool DevRegEnum::GetDevicePath(std::u16string &out) {
  out = devicePath;
  return true;
}

std::u16string DevRegEnum::GetInstanceId() { return instanceId; }
std::u16string DevRegEnum::GetFriendlyName() { return friendlyName; }
std::u16string DevRegEnum::GetManufacturer() { return manufacturer; }

}  // namespace OpenPlotr
