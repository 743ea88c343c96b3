#include "tools/vornctl/summary_table.h"

#include <algorithm>
#include <cstdio>

#include "tools/vornctl/sparkline.h"
#include "tools/vornctl/text_table.h"
#include "tools/vornctl/unit_conversion.h"

namespace vornctl {

bool ChannelStatistics::Begin(const RecordingHeader &header, std::string &) {
  header_ = header;
  channels_.clear();
  for (std::size_t i = 0; i < header.channels.size(); ++i)
    channels_.push_back(Channel{0, 0, 0, 0, Envelope(sparkWidth_)});
  return true;
}

bool ChannelStatistics::Add(const std::vector<std::int32_t> *values, double, std::string &) {
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    Channel &c = channels_[i];
    if (!values) {
      c.trace.AddGap();
      continue;
    }
    const double v = ToPhysical(header_.channels[i], (*values)[i]);
    c.minimum = c.count ? std::min(c.minimum, v) : v;
    c.maximum = c.count ? std::max(c.maximum, v) : v;
    c.sum += v;
    ++c.count;
    c.trace.Add(v);
  }
  return true;
}

std::string ChannelStatistics::Table() const {
  TextTable table({"channel", "unit", "min", "max", "mean", "trace"}, 2);
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    const ChannelInfo &info = header_.channels[i];
    const Channel &c = channels_[i];
    const int decimals = std::min(PhysicalDecimals(info), 3);
    if (c.count == 0) {
      table.Add({info.name, info.unit, "-", "-", "-", ""});
      continue;
    }
    table.Add({info.name, info.unit, FixedText(c.minimum, decimals), FixedText(c.maximum, decimals),
               FixedText(c.sum / static_cast<double>(c.count), decimals), Sparkline(c.trace.Buckets(), sparkWidth_)});
  }
  return table.Text();
}

}  // namespace vornctl
