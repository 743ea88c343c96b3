#include "tools/vornctl/csv_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/vornctl/commands.h"
#include "tools/vornctl/unit_conversion.h"

namespace vornctl {

namespace {

// Past this much unwritten text the buffer goes out whatever the time.
constexpr std::size_t kBufferLimit = 1 << 20;

bool ContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

bool IsUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    if (c < 0x80) {
      extra = 0;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if (!ContinuationByte(static_cast<unsigned char>(text[i + k]))) return false;
    }
    i += extra + 1;
  }
  return true;
}

}  // namespace

std::string TextAsUtf8(std::string_view text) {
  if (IsUtf8(text)) return std::string(text);
  std::string out;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string CsvField(std::string_view text) {
  const bool edgeSpace = !text.empty() && (text.front() == ' ' || text.back() == ' ');
  if (text.find_first_of(",\"\r\n") == std::string_view::npos && !edgeSpace) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string SampleTime(std::int64_t index, std::int64_t periodUs) {
  const std::int64_t us = index * periodUs;
  std::string text = std::to_string(us / 1000000);
  std::int64_t fraction = us % 1000000;
  if (fraction == 0) return text;
  char digits[8];
  std::snprintf(digits, sizeof digits, "%06lld", static_cast<long long>(fraction));
  std::string tail = digits;
  tail.erase(tail.find_last_not_of('0') + 1);
  return text + "." + tail;
}

std::string CsvChannelColumns(const ChannelInfo &channel) {
  const std::string name = TextAsUtf8(channel.name);
  const std::string physical = channel.unit.empty() ? name : name + " [" + TextAsUtf8(channel.unit) + "]";
  return CsvField(name + " raw") + "," + CsvField(physical);
}

std::string CsvCommentLines(const RecordingHeader &header) {
  const DeviceIdentity &id = header.identity;
  std::string text;
  auto line = [&](const std::string &key, const std::string &value) {
    std::string clean;
    // A line end inside a value would end the comment.
    for (char c : TextAsUtf8(value)) clean += (c == '\n' || c == '\r') ? ' ' : c;
    text += kCsvCommentPrefix + key + ": " + clean + "\n";
  };
  char monotonic[48];
  std::snprintf(monotonic, sizeof monotonic, "%.6f", header.monotonicStart);
  line("vornctl", kVornctlVersion);
  line("start", IsoStartTime(header));
  line("monotonic start [s]", monotonic);
  line("serial", id.serial);
  line("unique id", UniqueIdText(id.uniqueId));
  line("product", id.product);
  line("version", id.version);
  line("period [us]", std::to_string(header.periodUs));
  if (!header.subject.empty()) line("subject", header.subject);
  if (!header.subjectName.empty()) line("subject name", header.subjectName);
  if (!header.recording.empty()) line("recording", header.recording);
  return text;
}

std::string CsvGapLine(std::int64_t atIndex, std::int64_t sets, std::int64_t periodUs, const std::string &reason) {
  return std::string(kCsvCommentPrefix) + "GAP: start " + SampleTime(atIndex, periodUs) + " s, duration " +
         SampleTime(sets, periodUs) + " s, sets " + std::to_string(sets) + ", reason " + reason + "\n";
}

CsvWriter::CsvWriter(std::string path, bool replace)
    : path_(std::move(path)), replace_(replace), toStdout_(path_ == "-") {}

CsvWriter::~CsvWriter() {
  // Ended without Finish (a failure elsewhere): what was written stays under
  // the temporary name, an empty file goes.
  if (!toStdout_ && file_.IsOpen()) {
    std::string ignored;
    file_.Close(ignored);
    if (bytesOnDisk_ == 0) RemoveFile(file_.Path());
  }
}

bool CsvWriter::Begin(const RecordingHeader &header, std::string &error) {
  header_ = header;
  decimals_.clear();
  for (const ChannelInfo &c : header.channels) decimals_.push_back(PhysicalDecimals(c));
  // Written about once a second, so a crash loses at most that much.
  flushEvery_ = header.periodUs > 0 ? std::max<std::int64_t>(1, 1000000 / header.periodUs) : 1;
  outcome_ = OutputOutcome{toStdout_ ? path_ : PartialPath(path_), false, "nothing recorded"};
  if (!toStdout_ && !file_.Create(PartialPath(path_), replace_, error)) return false;
  begun_ = true;
  return true;
}

void CsvWriter::Queue(const std::string &text, bool isRow) {
  buffer_ += text;
  if (isRow) ++rows_;
  marks_.push_back({buffer_.size(), rows_, index_});
}

bool CsvWriter::Start(const RecordingHeader &header, std::string &error) {
  (void)error;
  header_.startTime = header.startTime;
  header_.startMilliseconds = header.startMilliseconds;
  header_.monotonicStart = header.monotonicStart;
  if (!headerQueued_) {
    std::string line = CsvCommentLines(header_) + "time [s],host time [s]";
    for (const ChannelInfo &c : header_.channels) line += "," + CsvChannelColumns(c);
    Queue(line + "\n", false);
    headerQueued_ = true;
  }
  return true;
}

bool CsvWriter::Add(const std::vector<std::int32_t> *values, double hostSeconds, std::string &error) {
  if (failed_) return false;
  if (!headerQueued_ && !Start(header_, error)) return false;
  row_ = SampleTime(index_, header_.periodUs);
  char host[32];
  std::snprintf(host, sizeof host, ",%.6f", hostSeconds);
  row_ += host;
  for (std::size_t i = 0; i < header_.channels.size(); ++i) {
    if (!values) {
      row_ += ",,";
      continue;
    }
    const std::int32_t v = (*values)[i];
    row_ += ',';
    row_ += std::to_string(v);
    row_ += ',';
    row_ += FixedText(ToPhysical(header_.channels[i], v), decimals_[i]);
  }
  row_ += '\n';
  ++index_;
  Queue(row_, true);
  if (++sinceFlush_ >= flushEvery_ || buffer_.size() >= kBufferLimit) return Flush(error);
  return true;
}

bool CsvWriter::Gap(std::int64_t sets, const std::string &reason, std::string &error) {
  if (failed_) return false;
  if (sets <= 0) return true;
  if (!headerQueued_ && !Start(header_, error)) return false;
  const std::string line = CsvGapLine(index_, sets, header_.periodUs, reason);
  index_ += sets;
  Queue(line, false);
  return true;
}

bool CsvWriter::Failed(const std::string &reason, std::string &error) {
  failed_ = true;
  error = "cannot write " + PathForMessage(toStdout_ ? "stdout" : path_) + ": " + reason;
  return false;
}

bool CsvWriter::Flush(std::string &error) {
  sinceFlush_ = 0;
  if (buffer_.empty()) return true;
  if (toStdout_) {
    if (std::fwrite(buffer_.data(), 1, buffer_.size(), stdout) != buffer_.size() || std::fflush(stdout) != 0) {
      return Failed(std::strerror(errno), error);
    }
    onDisk_ = marks_.back();
    buffer_.clear();
    marks_.clear();
    return true;
  }
  std::size_t written = 0;
  std::string reason;
  if (!file_.Append(buffer_, written, reason)) {
    // Keep only whole rows: a cut row would read as a plausible value.
    Mark kept{0, onDisk_.rows, onDisk_.endIndex};
    for (const Mark &m : marks_) {
      if (m.end <= written) kept = m;
    }
    std::string ignored;
    file_.Truncate(bytesOnDisk_ + kept.end, ignored);
    bytesOnDisk_ += kept.end;
    onDisk_ = kept;
    buffer_.clear();
    marks_.clear();
    return Failed(reason, error);
  }
  bytesOnDisk_ += buffer_.size();
  onDisk_ = marks_.back();
  buffer_.clear();
  marks_.clear();
  return true;
}

bool CsvWriter::Finish(const RecordingSummary &summary, std::string &error) {
  if (!begun_ || finished_) return !failed_;
  finished_ = true;
  // A recording that began but had no line still says what was recorded from.
  if (!headerQueued_ && summary.started && !failed_) Start(header_, error);
  bool ok = failed_ ? false : Flush(error);
  if (toStdout_) return ok;
  std::string reason;
  if (bytesOnDisk_ == 0) {
    file_.Close(reason);
    RemoveFile(file_.Path());
    outcome_ = {path_, false, summary.started ? "nothing reached the file" : "nothing recorded"};
    return ok;
  }
  outcome_.holds = std::to_string(onDisk_.rows) + " rows, " + SampleTime(onDisk_.endIndex, header_.periodUs) + " s";
  if (!file_.Sync(reason) || !file_.Close(reason)) {
    if (ok) Failed(reason, error);
    return false;
  }
  bool exists = false;
  if (!RenameFile(file_.Path(), path_, replace_, exists, reason)) {
    const std::string why = exists ? PathForMessage(path_) + " appeared while recording and is kept"
                                   : "cannot rename it to " + PathForMessage(path_) + ": " + reason;
    if (ok) error = why + "; the recording is in " + PathForMessage(file_.Path());
    return false;
  }
  outcome_.path = path_;
  outcome_.written = true;
  return ok;
}

std::optional<OutputOutcome> CsvWriter::Outcome() const {
  if (toStdout_ || !begun_) return std::nullopt;
  OutputOutcome out = outcome_;
  if (!finished_) out.holds = std::to_string(onDisk_.rows) + " rows";
  out.written = out.written || bytesOnDisk_ > 0;
  return out;
}

}  // namespace vornctl
