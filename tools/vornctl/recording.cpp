#include "tools/vornctl/recording.h"

#include <chrono>
#include <cstdio>

namespace vornctl {

std::string IsoStartTime(const RecordingHeader &header) {
  // gmtime's shared result: the start is formatted before any reader thread starts.
  const std::tm *utc = std::gmtime(&header.startTime);
  if (!utc) return "unknown";
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc->tm_year + 1900, utc->tm_mon + 1,
                utc->tm_mday, utc->tm_hour, utc->tm_min, utc->tm_sec, header.startMilliseconds);
  return text;
}

void StampStartTime(RecordingHeader &header) {
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  header.startTime = static_cast<std::time_t>(ms / 1000);
  header.startMilliseconds = static_cast<int>(ms % 1000);
}

}  // namespace vornctl
