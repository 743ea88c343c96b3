// vornctl: a host program for the Vorn driver that uses only its sixteen exports.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/hostlib/vorn_library.h"
#include "tools/vornctl/library_path.h"

namespace {

const char kUsage[] =
    "usage: vornctl [--library PATH] COMMAND\n"
    "\n"
    "Commands:\n"
    "  about      load the driver, print its device class record and general message\n"
    "\n"
    "The driver is found through --library, $VORN_LIBRARY, or beside vornctl.\n";

std::string Utf16ToUtf8(const VornChar16 *text) {
  std::string out;
  for (; text && *text; ++text) {
    const char16_t c = *text;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string GeneralMessage(const vorn_host::VornLibrary &lib) {
  const std::int32_t size = lib.GetLastErrorMsg(-1, nullptr);
  if (size <= 0) return {};
  std::vector<char> buffer(static_cast<std::size_t>(size) + 1, '\0');
  lib.GetLastErrorMsg(-1, buffer.data());
  return buffer.data();
}

int About(const vorn_host::VornLibrary &lib, const std::string &path) {
  DeviceClassInfo info{};
  if (lib.GetDeviceClassInfo(&info) != 1) {
    std::fprintf(stderr, "vornctl: GetDeviceClassInfo failed\n");
    return 1;
  }
  const VornGuid &g = info.classId;
  std::printf("library:     %s\n", path.c_str());
  std::printf("class id:    {%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}\n", g.data1, g.data2, g.data3,
              g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  std::printf("class name:  %s\n", Utf16ToUtf8(info.className).c_str());
  std::printf("short name:  %s\n", Utf16ToUtf8(info.shortName).c_str());
  std::printf("message:     %s\n", GeneralMessage(lib).c_str());
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  std::string libraryOption;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--library") == 0 && i + 1 < argc) {
      libraryOption = argv[++i];
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      args.emplace_back(argv[i]);
    }
  }
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  const std::string path = vornctl::FindLibrary(libraryOption, argv[0]);
  vorn_host::VornLibrary lib;
  std::string error;
  if (!lib.Load(path, error)) {
    std::fprintf(stderr, "vornctl: cannot load the driver %s: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  int rc = 2;
  if (args[0] == "about") {
    rc = About(lib, path);
  } else {
    std::fprintf(stderr, "vornctl: unknown command '%s'\n\n%s", args[0].c_str(), kUsage);
  }
  lib.CloseAll();
  lib.Unload();
  return rc;
}
