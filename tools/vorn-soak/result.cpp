#include "tools/vorn-soak/result.h"

namespace vorn_soak {

Resources Settled(const Resources &before) {
  Resources now = MeasureResources();
  for (int i = 0; i < 40 && (now.threads > before.threads || now.descriptors > before.descriptors); ++i) {
    SleepMs(25);
    now = MeasureResources();
  }
  return now;
}

void CompareResources(Result &r) {
  if (r.after.threads > r.before.threads) {
    ++r.leaks;
    r.Fail("threads grew from " + std::to_string(r.before.threads) + " to " + std::to_string(r.after.threads));
  }
  if (r.after.descriptors > r.before.descriptors) {
    ++r.leaks;
    r.Fail("descriptors grew from " + std::to_string(r.before.descriptors) + " to " +
           std::to_string(r.after.descriptors));
  }
  if (r.after.residentKiB > r.before.residentKiB + kResidentToleranceKiB) {
    ++r.leaks;
    r.Fail("resident memory grew from " + std::to_string(r.before.residentKiB) + " KiB to " +
           std::to_string(r.after.residentKiB) + " KiB (tolerance " + std::to_string(kResidentToleranceKiB) + " KiB)");
  }
}

}  // namespace vorn_soak
