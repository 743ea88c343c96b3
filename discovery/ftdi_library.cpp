#include "discovery/ftdi_library.h"

#include <cstring>
#include <string_view>

#include "support/code_page.h"

namespace OpenPlotr {

namespace {

// A library that opens every number it is given would otherwise never end the lookup.
constexpr int kMostConverters = 256;

std::u16string FoldAscii(std::u16string_view text) {
  std::u16string folded(text);
  for (char16_t &c : folded) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return folded;
}

}  // namespace

FtdiLibrary::~FtdiLibrary() {
  if (module) {
    FreeFtdiModule(module);
    module = nullptr;
  }
}

bool FtdiLibrary::Usable() const {
  return module && !notInstalled && !cannotLoad && FT_Open && FT_GetDeviceInfo && FT_GetComPortNumber && FT_Close;
}

std::u16string FoldedComName(std::int32_t portNumber) {
  std::u16string name = u"com";
  if (portNumber >= 0) {
    for (char c : std::to_string(portNumber)) name.push_back(static_cast<char16_t>(c));
  }
  return name;
}

bool FtdiLibrary::FindFtdiSerial(const std::u16string &comPortName, std::u16string &serial) {
  if (!Usable() || comPortName.empty()) return false;
  const std::u16string target = FoldAscii(comPortName);
  for (int number = 0; number < kMostConverters; ++number) {
    if (!Usable()) {
      cannotLoad = true;
      return false;
    }
    d2xx::Handle handle = nullptr;
    // A converter that cannot be opened (its port in use, say) ends the lookup.
    if (FT_Open(number, &handle) != d2xx::kOk) return false;

    // The serial field is not terminated when the library fills all of it.
    char serialField[d2xx::kSerialField] = {};
    char description[d2xx::kDescriptionField] = {};
    std::uint32_t type = 0;
    std::uint32_t id = 0;
    std::int32_t portNumber = -1;
    const bool answered = FT_GetDeviceInfo(handle, &type, &id, serialField, description, nullptr) == d2xx::kOk &&
                          FT_GetComPortNumber(handle, &portNumber) == d2xx::kOk;
    FT_Close(handle);
    if (!answered) return false;

    // A converter without a COM port serves no port, not even one named "COM".
    if (portNumber >= 0 && FoldedComName(portNumber) == target) {
      const auto length = static_cast<std::int32_t>(strnlen(serialField, sizeof serialField));
      serial.clear();
      if (length > 0 && !QVX::NarrowToWide(length, serialField, serial, QVX::kCodePageThreadAnsi)) serial.clear();
      return true;
    }
  }
  return false;
}

}  // namespace OpenPlotr
