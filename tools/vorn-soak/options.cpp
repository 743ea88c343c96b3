#include "tools/vorn-soak/options.h"

#include <cstdio>
#include <cstdlib>

namespace vorn_soak {

const char kUsage[] =
    "Usage: vorn-soak [--library PATH] [--json FILE] SCENARIO=COUNT...\n"
    "Soaks the driver against simulated devices and checks every delivered line.\n"
    "Scenarios (COUNT in the unit given):\n"
    "  cycles=N      FindDevice/Initialise/CloseAll cycles (every 50th streams too)\n"
    "  vanish=N      cycles of a device that vanishes mid-stream and comes back\n"
    "  silent=N      initialisations of a device that never answers (about 20 s each)\n"
    "  faults=S      S one-second sessions for each of garbage, high-bytes, overlong,\n"
    "                split-crlf, trickle, burst and missing\n"
    "  FAULT=S       one of those modes alone, e.g. burst=10\n"
    "  overflow=N    rounds of a stalled reader overfilling the receive ring\n"
    "  loadunload=N  library loads and unloads (every 10th streams)\n"
    "  load=S        eight devices streaming at once for S seconds\n"
    "Options:\n"
    "  --library PATH  the driver library (default: the one built beside this program)\n"
    "  --json FILE     results file (default build/soak-results/soak.json)\n"
    "Exit status: 0 when every scenario passed, 1 when one failed, 2 on a usage error.\n";

const char *const kFaultModes[7] = {"garbage", "high-bytes", "overlong", "split-crlf", "trickle", "burst", "missing"};

int ParseOptions(int argc, char **argv, Options &o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--library" || a == "--json") && i + 1 < argc) {
      (a == "--library" ? o.library : o.json) = argv[++i];
    } else if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (const auto eq = a.find('='); eq != std::string::npos && eq > 0) {
      char *end = nullptr;
      const long count = std::strtol(a.c_str() + eq + 1, &end, 10);
      if (*end != '\0' || count < 0) {
        std::fprintf(stderr, "vorn-soak: bad count in %s\n%s", a.c_str(), kUsage);
        return 2;
      }
      o.scenarios.emplace_back(a.substr(0, eq), count);
    } else {
      std::fprintf(stderr, "vorn-soak: unknown argument %s\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
  if (o.scenarios.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  return -1;
}

}  // namespace vorn_soak
