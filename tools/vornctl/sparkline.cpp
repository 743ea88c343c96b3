#include "tools/vornctl/sparkline.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vornctl {

namespace {
const char *const kBlocks[8] = {"\u2581", "\u2582", "\u2583", "\u2584", "\u2585", "\u2586", "\u2587", "\u2588"};
}  // namespace

std::string Sparkline(const std::vector<EnvelopeBucket> &buckets, std::size_t width) {
  if (buckets.empty() || width == 0) return {};
  const std::size_t columns = std::min(width, buckets.size());
  std::vector<double> means(columns, std::numeric_limits<double>::quiet_NaN());
  for (std::size_t c = 0; c < columns; ++c) {
    // Each column covers an equal share of the buckets.
    const std::size_t from = c * buckets.size() / columns;
    const std::size_t to = std::max(from + 1, (c + 1) * buckets.size() / columns);
    double sum = 0;
    std::int64_t count = 0;
    for (std::size_t b = from; b < to; ++b) {
      sum += buckets[b].sum;
      count += buckets[b].count;
    }
    if (count) means[c] = sum / static_cast<double>(count);
  }
  double lo = std::numeric_limits<double>::infinity();
  double hi = -lo;
  for (double m : means) {
    if (std::isnan(m)) continue;
    lo = std::min(lo, m);
    hi = std::max(hi, m);
  }
  // Means of a constant differ in their last bits with the order of summing; that is no change.
  const double resolution = 1e-9 * std::max({1.0, std::fabs(lo), std::fabs(hi)});
  std::string out;
  for (double m : means) {
    if (std::isnan(m)) {
      out += ' ';
      continue;
    }
    int level = 0;
    if (hi - lo > resolution) level = std::clamp(static_cast<int>((m - lo) / (hi - lo) * 8.0), 0, 7);
    out += kBlocks[level];
  }
  return out;
}

}  // namespace vornctl
