// A host stand-in that never sets a locale: prints whether it found the firmware
// file beside itself and the revision it read.
#include <cstdio>

#include "firmware/firmware_requirements.h"

int main() {
  const OpenPlotr::FirmwareRequirements requirements;
  std::printf("%d %d\n", requirements.loaded ? 1 : 0, static_cast<int>(requirements.requiredRevision));
  return 0;
}
