// A recording as CSV: comment lines saying where and when it was made, a
// column header, then one row per sample set: the sample time, the host's
// time at arrival, then per channel the scaled value (0..32767) and the
// value in the channel's unit.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vornctl/recording.h"

namespace vornctl {

class CsvWriter : public SampleSink {
 public:
  // path "-" writes to stdout.
  explicit CsvWriter(std::string path);
  ~CsvWriter() override;
  CsvWriter(const CsvWriter &) = delete;
  CsvWriter &operator=(const CsvWriter &) = delete;

  bool Begin(const RecordingHeader &header, std::string &error) override;
  bool Add(const std::vector<std::int32_t> *values, double hostSeconds, std::string &error) override;
  bool Note(std::int64_t atSample, const std::string &text, std::string &error) override;
  bool Finish(const RecordingSummary &summary, std::string &error) override;

 private:
  bool Close(std::string &error);

  std::string path_;
  std::FILE *file_ = nullptr;
  RecordingHeader header_;
  std::vector<int> decimals_;
  std::int64_t index_ = 0;
  std::int64_t flushEvery_ = 1;
  std::string row_;
};

// What begins every comment line; readers skip lines that start with it
// (pandas: comment='#').
inline constexpr char kCsvCommentPrefix[] = "# ";

// The comment lines before the column header, each ending in a line feed.
std::string CsvCommentLines(const RecordingHeader &header);

// A CSV field, quoted when it holds a comma, a quote, a line end or edge spaces.
std::string CsvField(std::string_view text);
// Sample index * period in seconds, exactly, without trailing zeros: "0.002", "1.5", "0".
std::string SampleTime(std::int64_t index, std::int64_t periodUs);
// "ECG raw,ECG [mV]" for one channel.
std::string CsvChannelColumns(const ChannelInfo &channel);

}  // namespace vornctl
