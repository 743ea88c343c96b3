#include "tools/vornctl/progress.h"

#include <cstdio>

namespace vornctl {

std::string ProgressText(double elapsed, double rate, std::int64_t dropped, std::int64_t missing) {
  char text[160];
  std::snprintf(text, sizeof text, "%7.1f s  %7.1f lines/s  dropped %lld  missing %lld", elapsed, rate,
                static_cast<long long>(dropped), static_cast<long long>(missing));
  return text;
}

double ProgressLine::Rate(double elapsed, std::int64_t lines) {
  // Over the last second, so a stall shows at once rather than as a slowly falling average.
  recent_.emplace_back(elapsed, lines);
  while (recent_.size() > 2 && elapsed - recent_.front().first > 1.0) recent_.pop_front();
  const double span = elapsed - recent_.front().first;
  if (span <= 0) return 0;
  return static_cast<double>(lines - recent_.front().second) / span;
}

void ProgressLine::Update(double elapsed, std::int64_t lines, std::int64_t dropped, std::int64_t missing, bool force) {
  const double rate = Rate(elapsed, lines);
  if (!live_ || (!force && lastDrawn_ >= 0 && elapsed - lastDrawn_ < 0.25)) return;
  lastDrawn_ = elapsed;
  std::string text = ProgressText(elapsed, rate, dropped, missing);
  const std::size_t width = text.size();
  if (width < lastWidth_) text.append(lastWidth_ - width, ' ');
  lastWidth_ = width;
  std::fprintf(stderr, "\r%s", text.c_str());
  std::fflush(stderr);
}

void ProgressLine::Finish() {
  if (live_ && lastDrawn_ >= 0) std::fputc('\n', stderr);
  lastDrawn_ = -1;
}

}  // namespace vornctl
