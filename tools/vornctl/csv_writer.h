// A recording as CSV: comment lines saying where and when it was made, a
// column header, then one row per sample set: the sample time, the host's
// time at arrival, then per channel the scaled value (0..32767) and the
// value in the channel's unit. A gap is a comment line, and the sample time
// jumps by it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vornctl/output_file.h"
#include "tools/vornctl/recording.h"

namespace vornctl {

class CsvWriter : public SampleSink {
 public:
  // path "-" writes to stdout. replace: an existing file of that name is
  // replaced when the recording is complete (--force); else it is kept and
  // the recording stays under its temporary name.
  explicit CsvWriter(std::string path, bool replace = false);
  ~CsvWriter() override;
  CsvWriter(const CsvWriter &) = delete;
  CsvWriter &operator=(const CsvWriter &) = delete;

  bool Begin(const RecordingHeader &header, std::string &error) override;
  bool Start(const RecordingHeader &header, std::string &error) override;
  bool Add(const std::vector<std::int32_t> *values, double hostSeconds, std::string &error) override;
  bool Gap(std::int64_t sets, const std::string &reason, std::string &error) override;
  bool Finish(const RecordingSummary &summary, std::string &error) override;
  std::optional<OutputOutcome> Outcome() const override;

 private:
  // A piece of the buffer that ends whole: what the file holds up to it.
  struct Mark {
    std::size_t end = 0;
    std::int64_t rows = 0;
    std::int64_t endIndex = 0;
  };
  void Queue(const std::string &text, bool isRow);
  bool Flush(std::string &error);
  bool Failed(const std::string &reason, std::string &error);

  std::string path_;
  bool replace_;
  bool toStdout_;
  OutputFile file_;
  RecordingHeader header_;
  std::vector<int> decimals_;
  bool begun_ = false;
  bool headerQueued_ = false;
  bool failed_ = false;
  bool finished_ = false;
  std::int64_t index_ = 0;  // the next row's sample index
  std::int64_t rows_ = 0;
  std::int64_t flushEvery_ = 1;
  std::int64_t sinceFlush_ = 0;
  std::string buffer_;
  std::vector<Mark> marks_;
  std::uint64_t bytesOnDisk_ = 0;
  Mark onDisk_;
  std::string row_;
  OutputOutcome outcome_;
};

// What begins every comment line; readers skip lines that start with it
// (pandas: comment='#').
inline constexpr char kCsvCommentPrefix[] = "# ";

// The comment lines before the column header, each ending in a line feed.
std::string CsvCommentLines(const RecordingHeader &header);
// The comment line of a gap of `sets` before sample `atIndex`.
std::string CsvGapLine(std::int64_t atIndex, std::int64_t sets, std::int64_t periodUs, const std::string &reason);

// A CSV field, quoted when it holds a comma, a quote, a line end or edge spaces.
std::string CsvField(std::string_view text);
// Sample index * period in seconds, exactly, without trailing zeros: "0.002", "1.5", "0".
std::string SampleTime(std::int64_t index, std::int64_t periodUs);
// "ECG raw,ECG [mV]" for one channel.
std::string CsvChannelColumns(const ChannelInfo &channel);
// The device's text as UTF-8: kept when it is UTF-8 already, else read as
// Latin-1 (the driver hands on the device's 8-bit bytes, "µV", "°C").
std::string TextAsUtf8(std::string_view text);

}  // namespace vornctl
