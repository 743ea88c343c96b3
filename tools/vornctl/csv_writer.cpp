#include "tools/vornctl/csv_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/vornctl/commands.h"
#include "tools/vornctl/unit_conversion.h"

namespace vornctl {

namespace {

std::string SystemError() { return std::strerror(errno); }

}  // namespace

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
  const std::string physical = channel.unit.empty() ? channel.name : channel.name + " [" + channel.unit + "]";
  return CsvField(channel.name + " raw") + "," + CsvField(physical);
}

std::string CsvCommentLines(const RecordingHeader &header) {
  const DeviceIdentity &id = header.identity;
  std::string text;
  auto line = [&](const std::string &key, const std::string &value) {
    std::string clean;
    // A line end inside a value would end the comment.
    for (char c : value) clean += (c == '\n' || c == '\r') ? ' ' : c;
    text += kCsvCommentPrefix + key + ": " + clean + "\n";
  };
  line("vornctl", kVornctlVersion);
  line("start", IsoStartTime(header));
  line("serial", id.serial);
  line("unique id", UniqueIdText(id.uniqueId));
  line("product", id.product);
  line("version", id.version);
  line("period [us]", std::to_string(header.periodUs));
  if (!header.subject.empty()) line("subject", header.subject);
  if (!header.recording.empty()) line("recording", header.recording);
  return text;
}

CsvWriter::CsvWriter(std::string path) : path_(std::move(path)) {}

CsvWriter::~CsvWriter() {
  std::string ignored;
  Close(ignored);
}

bool CsvWriter::Begin(const RecordingHeader &header, std::string &error) {
  header_ = header;
  file_ = path_ == "-" ? stdout : std::fopen(path_.c_str(), "wb");
  if (!file_) {
    error = "cannot create " + path_ + ": " + SystemError();
    return false;
  }
  decimals_.clear();
  std::string line = CsvCommentLines(header) + "time [s],host time [s]";
  for (const ChannelInfo &c : header.channels) {
    line += "," + CsvChannelColumns(c);
    decimals_.push_back(PhysicalDecimals(c));
  }
  line += "\n";
  // Flushed about once a second, so a crash loses at most that much.
  flushEvery_ = header.periodUs > 0 ? std::max<std::int64_t>(1, 1000000 / header.periodUs) : 1;
  index_ = 0;
  if (std::fputs(line.c_str(), file_) < 0) {
    error = "cannot write " + path_ + ": " + SystemError();
    return false;
  }
  return true;
}

bool CsvWriter::Note(std::int64_t, const std::string &text, std::string &error) {
  const std::string line = kCsvCommentPrefix + text + "\n";
  if (std::fputs(line.c_str(), file_) < 0) {
    error = "cannot write " + path_ + ": " + SystemError();
    return false;
  }
  return true;
}

bool CsvWriter::Add(const std::vector<std::int32_t> *values, double hostSeconds, std::string &error) {
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
  if (std::fwrite(row_.data(), 1, row_.size(), file_) != row_.size() ||
      (index_ % flushEvery_ == 0 && std::fflush(file_) != 0)) {
    error = "cannot write " + path_ + ": " + SystemError();
    return false;
  }
  return true;
}

bool CsvWriter::Finish(const RecordingSummary &, std::string &error) { return Close(error); }

bool CsvWriter::Close(std::string &error) {
  if (!file_) return true;
  bool ok = std::fflush(file_) == 0;
  if (file_ != stdout) ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  if (!ok) error = "cannot write " + path_ + ": " + SystemError();
  return ok;
}

}  // namespace vornctl
