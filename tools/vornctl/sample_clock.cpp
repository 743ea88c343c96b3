#include "tools/vornctl/sample_clock.h"

#include <algorithm>
#include <cmath>

namespace vornctl {

SampleClock::SampleClock(std::int64_t periodUs) : periodUs_(std::max<std::int64_t>(1, periodUs)) {}

std::int64_t SampleClock::LostThresholdSets(std::int64_t periodUs) {
  const std::int64_t period = std::max<std::int64_t>(1, periodUs);
  return std::max<std::int64_t>((500000 + period - 1) / period, 50);
}

std::int64_t SampleClock::SetsBetween(Clock::time_point from, Clock::time_point to) const {
  const double us = std::chrono::duration<double, std::micro>(to - from).count();
  return static_cast<std::int64_t>(std::llround(us / static_cast<double>(periodUs_)));
}

std::int64_t SampleClock::Take(Clock::time_point at) {
  std::int64_t gap = 0;
  if (!started_) {
    started_ = true;
    start_ = at;
    baseAt_ = at;
    baseIndex_ = 0;
  } else if (interrupted_) {
    gap = std::max<std::int64_t>(0, SetsBetween(last_, at) - 1);
    next_ += gap;
    baseAt_ = at;
    baseIndex_ = next_;
    if (gap > 0) {
      gapSets_ += gap;
      ++gaps_;
    }
  } else if (overflowed_) {
    // This line came after the loss, so it is as fresh as a caught-up one.
    const std::int64_t deficit = SetsBetween(baseAt_, at) - (next_ - baseIndex_);
    if (deficit > LostThresholdSets(periodUs_)) {
      gap = deficit;
      next_ += gap;
      gapSets_ += gap;
      lostSets_ += gap;
      ++gaps_;
    }
    baseAt_ = at;
    baseIndex_ = next_;
  }
  interrupted_ = false;
  overflowed_ = false;
  last_ = at;
  lastIndex_ = next_;
  ++next_;
  return gap;
}

void SampleClock::Skip(std::int64_t sets) {
  if (sets <= 0) return;
  next_ += sets;
  // Counted, so the clock's deficit does not count them again.
  baseIndex_ += sets;
  gapSets_ += sets;
  ++gaps_;
}

std::int64_t SampleClock::CaughtUp() {
  if (!started_) return 0;
  // Both ends are lines taken with nothing left waiting, so neither is late
  // by more than the transport's bunching.
  const std::int64_t deficit = SetsBetween(baseAt_, last_) - (lastIndex_ - baseIndex_);
  std::int64_t gap = 0;
  if (deficit > LostThresholdSets(periodUs_)) {
    gap = deficit;
    next_ += gap;
    gapSets_ += gap;
    lostSets_ += gap;
    ++gaps_;
  }
  baseAt_ = last_;
  baseIndex_ = lastIndex_ + gap;
  return gap;
}

double SampleClock::HostSeconds() const {
  return started_ ? std::chrono::duration<double>(last_ - start_).count() : 0.0;
}

}  // namespace vornctl
