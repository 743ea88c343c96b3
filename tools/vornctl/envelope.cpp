#include "tools/vornctl/envelope.h"

#include <algorithm>

namespace vornctl {

namespace {

EnvelopeBucket Merge(const EnvelopeBucket &a, const EnvelopeBucket &b) {
  if (a.count == 0) return b;
  if (b.count == 0) return a;
  return {std::min(a.minimum, b.minimum), std::max(a.maximum, b.maximum), a.sum + b.sum, a.count + b.count};
}

}  // namespace

Envelope::Envelope(std::size_t target) : target_(std::max<std::size_t>(1, target)) {}

void Envelope::Add(double value) { Slot(&value); }

void Envelope::AddGap() { Slot(nullptr); }

void Envelope::Slot(const double *value) {
  if (buckets_.empty() || inLast_ == perBucket_) {
    if (buckets_.size() == 2 * target_) Halve();
    if (buckets_.empty() || inLast_ == perBucket_) {
      buckets_.emplace_back();
      inLast_ = 0;
    }
  }
  EnvelopeBucket &b = buckets_.back();
  if (value) b = Merge(b, EnvelopeBucket{*value, *value, *value, 1});
  ++inLast_;
  ++slots_;
}

void Envelope::Halve() {
  // Only called when every bucket is full, so pairs stay aligned to slots.
  std::vector<EnvelopeBucket> merged;
  merged.reserve(target_);
  for (std::size_t i = 0; i + 1 < buckets_.size(); i += 2) merged.push_back(Merge(buckets_[i], buckets_[i + 1]));
  buckets_ = std::move(merged);
  perBucket_ *= 2;
  inLast_ = perBucket_;
}

}  // namespace vornctl
