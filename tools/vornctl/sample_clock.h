// A recording's time: every line's sample index and host time, and the gaps
// where sample sets the host's clock expected never came. Every program that
// records keeps its time with this, so the files agree on one rule:
// - sample index n counts sets at the device's period from the recording's
//   first line, including the sets that would have come during a gap; the
//   sample time is n * period;
// - host time is seconds on the monotonic clock from the first line;
// - after an interruption (a reconnection) the gap is
//   round((first line after - last line before) / period) - 1 sets;
// - lines lost to a full receive ring: the sets the clock expected since
//   the reader last had caught up (nothing waiting in the driver or here)
//   beyond those counted are a gap when they exceed the larger of 0.5 s and
//   50 periods (less is the transport's bunching). It goes where the ring
//   overflowed when the reader saw that (Overflowed), else after the last
//   line once the reader has caught up again;
// - a sender that numbers its sample sets (a publisher) says itself how
//   many never came (Skip).
#pragma once

#include <chrono>
#include <cstdint>

namespace vornctl {

class SampleClock {
 public:
  using Clock = std::chrono::steady_clock;

  explicit SampleClock(std::int64_t periodUs);

  // A line taken at `at`. Returns the gap in sets to put before it: only the
  // first line after Interrupted() can have one.
  std::int64_t Take(Clock::time_point at);
  // The stream stopped and will start again (a reconnection).
  void Interrupted() { interrupted_ = true; }
  // The next line is the first the driver took after its receive ring was
  // full: lines may have been lost before it.
  void Overflowed() { overflowed_ = true; }
  // The sender counted `sets` sample sets that never reached this reader
  // (a network feed's sequence or sample index jumped): a gap before the
  // next line, of exactly that size.
  void Skip(std::int64_t sets);
  // The reader holds no line and the driver has nothing waiting. Returns the
  // sets lost since the last time it had caught up when they are a gap (to
  // go after the last line taken), else 0.
  std::int64_t CaughtUp();

  bool Started() const { return started_; }
  Clock::time_point Start() const { return start_; }
  // Seconds from the first line to the last one taken.
  double HostSeconds() const;
  // The index the next line gets.
  std::int64_t NextIndex() const { return next_; }
  std::int64_t GapSets() const { return gapSets_; }
  std::int64_t Gaps() const { return gaps_; }
  // The sets declared lost by CaughtUp (a part of GapSets).
  std::int64_t LostSets() const { return lostSets_; }

  // Lost lines below this many sets are not a gap.
  static std::int64_t LostThresholdSets(std::int64_t periodUs);

 private:
  std::int64_t SetsBetween(Clock::time_point from, Clock::time_point to) const;

  std::int64_t periodUs_;
  bool started_ = false;
  bool interrupted_ = false;
  bool overflowed_ = false;
  Clock::time_point start_{};
  Clock::time_point last_{};
  std::int64_t lastIndex_ = 0;
  std::int64_t next_ = 0;
  // The last line taken when the reader had caught up, and its index.
  Clock::time_point baseAt_{};
  std::int64_t baseIndex_ = 0;
  std::int64_t gapSets_ = 0;
  std::int64_t gaps_ = 0;
  std::int64_t lostSets_ = 0;
};

}  // namespace vornctl
