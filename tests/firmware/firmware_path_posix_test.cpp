// The firmware file beside a host installed under a name that is not ASCII.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace vorn_test {
namespace {

namespace fs = std::filesystem;

// Runs the probe copied into dir and returns what it printed.
std::string RunProbeIn(const std::string &dir, const std::string &ini) {
  const std::string host = dir + "/host";
  fs::create_directories(dir + "/Devices");
  fs::copy_file(VORN_FIRMWARE_PROBE, host, fs::copy_options::overwrite_existing);
  chmod(host.c_str(), 0755);
  std::ofstream(dir + "/Devices/VornFirmwareVer.ini", std::ios::binary) << ini;
  // The probe itself never calls setlocale; LC_ALL keeps the shell's own words plain.
  const std::string command = "LC_ALL=C '" + host + "'";
  std::FILE *out = popen(command.c_str(), "r");
  if (!out) return "<no run>";
  char line[64] = {};
  const bool got = std::fgets(line, sizeof line, out) != nullptr;
  pclose(out);
  return got ? std::string(line) : "<no output>";
}

TEST(FirmwareBesideHost, FileIsFoundUnderANameThatIsNotAscii) {
  char base[] = "/tmp/vorn-fwpath-XXXXXX";
  ASSERT_NE(mkdtemp(base), nullptr);
  // UTF-8 names; one in a legacy 8-bit encoding that is no UTF-8 at all; and byte
  // runs that only look like UTF-8 (an encoded surrogate, an overlong "/").
  const char *names[] = {"/opt/j\xC3\xB6s\xC3\xA9", "/\xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x93\x88", "/caf\xE9-\xFF",
                         "/\xED\xB2\x80-\xC0\xAF"};
  for (const char *name : names) {
    const std::string dir = std::string(base) + name;
    EXPECT_EQ(RunProbeIn(dir, "[required]\nlcrev=3\n"), "1 3\n") << dir;
  }
  // And an ASCII one, as before.
  EXPECT_EQ(RunProbeIn(std::string(base) + "/plain", "[required]\nlcrev=4\n"), "1 4\n");
  fs::remove_all(base);
}

}  // namespace
}  // namespace vorn_test
