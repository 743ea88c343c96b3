// The demo's summary: per channel the unit, minimum, maximum and mean of the
// physical values, and a sparkline of the trace.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/vornctl/envelope.h"
#include "tools/vornctl/recording.h"

namespace vornctl {

class ChannelStatistics : public SampleSink {
 public:
  explicit ChannelStatistics(std::size_t sparkWidth = 48) : sparkWidth_(sparkWidth) {}

  bool Begin(const RecordingHeader &header, std::string &error) override;
  bool Add(const std::vector<std::int32_t> *values, double hostSeconds, std::string &error) override;
  bool Finish(const RecordingSummary &summary, std::string &error) override { return true; }

  // The table, one line per channel, ending in a line feed.
  std::string Table() const;

 private:
  struct Channel {
    double minimum = 0;
    double maximum = 0;
    double sum = 0;
    std::int64_t count = 0;
    Envelope trace;
  };
  std::size_t sparkWidth_;
  RecordingHeader header_;
  std::vector<Channel> channels_;
};

}  // namespace vornctl
