// about: the device class record and the general message; needs no device.
#include <cstdio>

#include "tools/vornctl/commands.h"
#include "tools/vornctl/driver_calls.h"

namespace vornctl {

namespace {

std::string Utf16ToUtf8(const VornChar16 *text) {
  std::string out;
  for (; text && *text; ++text) {
    char32_t c = *text;
    if (c >= 0xD800 && c < 0xDC00 && text[1] >= 0xDC00 && text[1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[1] - 0xDC00);
      ++text;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

int AboutCommand(Context &context) {
  if (!context.LoadOrComplain()) return kExitFailure;
  const vorn_host::VornLibrary &lib = context.lib;
  DeviceClassInfo info{};
  if (lib.GetDeviceClassInfo(&info) != 1) {
    Complain("GetDeviceClassInfo failed");
    return kExitFailure;
  }
  const VornGuid &g = info.classId;
  std::printf("library:     %s\n", context.libraryPath.c_str());
  std::printf("class id:    {%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}\n", static_cast<unsigned>(g.data1),
              g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6],
              g.data4[7]);
  std::printf("class name:  %s\n", Utf16ToUtf8(info.className).c_str());
  std::printf("short name:  %s\n", Utf16ToUtf8(info.shortName).c_str());
  std::printf("message:     %s\n", GeneralMessage(lib).c_str());
  return kExitOk;
}

}  // namespace vornctl
