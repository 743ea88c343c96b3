// A long trace reduced to a bounded number of buckets (minimum, maximum,
// mean), so plots and sparklines of any length of recording fit in memory.
#pragma once

#include <cstdint>
#include <vector>

namespace vornctl {

struct EnvelopeBucket {
  double minimum = 0;
  double maximum = 0;
  double sum = 0;
  std::int64_t count = 0;  // values in the bucket; a bucket of gaps has none
  double Mean() const { return count ? sum / static_cast<double>(count) : 0; }
};

class Envelope {
 public:
  // Keeps between target and 2 * target buckets once that many slots came in.
  explicit Envelope(std::size_t target = 512);
  void Add(double value);
  // A time slot without a value (a damaged line).
  void AddGap();

  const std::vector<EnvelopeBucket> &Buckets() const { return buckets_; }
  std::int64_t SlotsPerBucket() const { return perBucket_; }
  std::int64_t Slots() const { return slots_; }

 private:
  void Slot(const double *value);
  void Halve();

  std::size_t target_;
  std::int64_t perBucket_ = 1;
  std::int64_t inLast_ = 0;  // slots in the last bucket
  std::int64_t slots_ = 0;
  std::vector<EnvelopeBucket> buckets_;
};

}  // namespace vornctl
