// Arbitrary bytes as the firmware file: loading never crashes, and a loaded
// file always yields a revision.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "firmware/firmware_requirements.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const std::string path = "/tmp/vorn_fuzz_firmware_" + std::to_string(getpid()) + ".ini";
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  std::u16string wide(path.begin(), path.end());
  OpenPlotr::FirmwareRequirements requirements(wide);
  (void)requirements.requiredRevision;
  return 0;
}
