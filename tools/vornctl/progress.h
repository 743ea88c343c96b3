// The live progress line of a recording on stderr.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>

namespace vornctl {

class ProgressLine {
 public:
  explicit ProgressLine(bool live) : live_(live) {}
  // Redrawn at most four times a second unless forced.
  void Update(double elapsed, std::int64_t lines, std::int64_t dropped, std::int64_t missing, bool force = false);
  // Ends the live line so later messages start on a line of their own.
  void Finish();

 private:
  double Rate(double elapsed, std::int64_t lines);

  bool live_;
  double lastDrawn_ = -1;
  std::size_t lastWidth_ = 0;
  std::deque<std::pair<double, std::int64_t>> recent_;
};

// "3.2 s  500 lines/s  dropped 0  missing 0"
std::string ProgressText(double elapsed, double rate, std::int64_t dropped, std::int64_t missing);

}  // namespace vornctl
