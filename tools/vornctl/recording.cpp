#include "tools/vornctl/recording.h"

#include <cstdio>

namespace vornctl {

namespace {

// The reentrant forms: reader threads stamp their own recordings' starts.
bool BrokenDown(std::time_t t, bool utc, std::tm &out) {
#if defined(_WIN32)
  return (utc ? gmtime_s(&out, &t) : localtime_s(&out, &t)) == 0;
#else
  return (utc ? gmtime_r(&t, &out) : localtime_r(&t, &out)) != nullptr;
#endif
}

}  // namespace

std::string IsoStartTime(const RecordingHeader &header) {
  std::tm utc{};
  if (!BrokenDown(header.startTime, true, utc)) return "unknown";
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, header.startMilliseconds);
  return text;
}

std::tm LocalStartTime(const RecordingHeader &header) {
  std::tm local{};
  if (!BrokenDown(header.startTime, false, local)) BrokenDown(header.startTime, true, local);
  return local;
}

void StampStartTime(RecordingHeader &header, std::chrono::steady_clock::time_point monotonicNow) {
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  header.startTime = static_cast<std::time_t>(ms / 1000);
  header.startMilliseconds = static_cast<int>(ms % 1000);
  header.monotonicStart = std::chrono::duration<double>(monotonicNow.time_since_epoch()).count();
}

void StampStartTime(RecordingHeader &header) { StampStartTime(header, std::chrono::steady_clock::now()); }

}  // namespace vornctl
