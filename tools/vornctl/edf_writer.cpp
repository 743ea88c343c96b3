#include "tools/vornctl/edf_writer.h"

#include <algorithm>
#include <cstdio>
#include <deque>

#include "tools/vornctl/commands.h"
#include "tools/vornctl/output_file.h"

namespace vornctl {

namespace {

constexpr int kDigitalMinimum = 0;
constexpr int kDigitalMaximum = 32767;
// EDF+ holds 16-bit digital values; a channel the driver forwards unscaled
// can only be stored within them.
constexpr int kUnscaledMinimum = -32768;
constexpr int kUnscaledMaximum = 32767;
// Room in every data record for its time stamp and the annotations that
// fall in it (the first holds the device's and the versions' two; the last
// the closing ones); more wait for the next record.
constexpr std::size_t kAnnotationBytes = 512;
// Longer annotation texts are cut.
constexpr std::size_t kAnnotationText = 100;

class EdfWriter : public SampleSink {
 public:
  EdfWriter(std::string path, bool replace) : path_(std::move(path)), replace_(replace) {}
  ~EdfWriter() override {
    if (file_.IsOpen()) {
      std::string ignored;
      file_.Close(ignored);
      if (records_ == 0) RemoveFile(file_.Path());
    }
  }
  EdfWriter(const EdfWriter &) = delete;
  EdfWriter &operator=(const EdfWriter &) = delete;

  bool Begin(const RecordingHeader &header, std::string &error) override;
  bool Start(const RecordingHeader &header, std::string &error) override;
  bool Add(const std::vector<std::int32_t> *values, double hostSeconds, std::string &error) override;
  bool Gap(std::int64_t sets, const std::string &reason, std::string &error) override;
  bool Finish(const RecordingSummary &summary, std::string &error) override;
  std::optional<OutputOutcome> Outcome() const override;

 private:
  bool Put(const int *values, std::string &error);
  bool WriteRecord(std::string &error);
  void Annotate(std::int64_t sample, std::optional<std::int64_t> sets, const std::string &text);
  std::int64_t OnsetUs(std::int64_t sample) const { return subsecondUs_ + sample * header_.periodUs; }
  std::int64_t Index() const { return records_ * layout_.samplesPerRecord + inRecord_; }
  bool Failed(const std::string &reason, std::string &error);
  std::string Holds() const;

  std::string path_;
  bool replace_;
  OutputFile file_;
  RecordingHeader header_;
  EdfRecordLayout layout_;
  EdfHeaderFields fields_;
  std::int64_t subsecondUs_ = 0;
  std::vector<std::pair<int, int>> digitalRanges_;
  std::vector<int> lastValues_;       // stand in for a damaged line's values
  std::vector<std::int16_t> record_;  // channel-major, as a data record holds them
  std::deque<std::string> annotations_;
  std::int64_t inRecord_ = 0;
  std::int64_t records_ = 0;  // whole records in the file
  std::size_t headerBytes_ = 0;
  std::int64_t lostInRecord_ = 0;
  std::int64_t clamped_ = 0;
  bool begun_ = false;
  bool failed_ = false;
  bool finished_ = false;
  OutputOutcome outcome_;
};

bool EdfWriter::Begin(const RecordingHeader &header, std::string &error) {
  header_ = header;
  if (!ChooseEdfRecordLayout(header.periodUs, layout_, error)) return false;
  const std::size_t signals = header.channels.size();
  if (signals < 1 || signals > 512) {
    error = "EDF+ holds 1 to 512 signals here, not " + std::to_string(signals);
    return false;
  }
  fields_.recordUs = layout_.recordUs;
  fields_.signals.clear();
  digitalRanges_.clear();
  for (const ChannelInfo &c : header.channels) {
    EdfSignal s;
    s.label = c.name;
    s.unit = c.unit;
    s.physicalMinimum = c.minimum;
    s.physicalMaximum = c.maximum;
    s.digitalMinimum = kDigitalMinimum;
    s.digitalMaximum = kDigitalMaximum;
    if (!c.hasRange) {
      s.physicalMinimum = s.digitalMinimum = kUnscaledMinimum;
      s.physicalMaximum = s.digitalMaximum = kUnscaledMaximum;
    } else if (!(c.maximum != c.minimum)) {
      // A channel without a span reads as its minimum; EDF+ needs a span.
      s.physicalMaximum = c.minimum + 1;
    }
    s.samplesPerRecord = layout_.samplesPerRecord;
    digitalRanges_.emplace_back(s.digitalMinimum, s.digitalMaximum);
    fields_.signals.push_back(s);
  }
  EdfSignal annotations;
  annotations.label = "EDF Annotations";
  annotations.physicalMinimum = -1;
  annotations.physicalMaximum = 1;
  annotations.digitalMinimum = -32768;
  annotations.digitalMaximum = 32767;
  annotations.samplesPerRecord = kAnnotationBytes / 2;
  fields_.signals.push_back(annotations);
  const DeviceIdentity &id = header.identity;
  // Patient: code, sex, birth date, name. Recording: after the start date the
  // investigation (--recording), the technician and the equipment, the
  // serial text being the device's identity.
  fields_.patient = EdfSubfield(header.subject, 80) + " X X " + EdfSubfield(header.subjectName, 80);
  fields_.recording = EdfSubfield(header.recording, 80) + " " +
                      EdfSubfield(std::string("vornctl") + kVornctlVersion, 20) + " " +
                      EdfSubfield(id.product + " " + id.serial, 80);
  fields_.start = LocalStartTime(header);
  // Every field checked now, before the device streams.
  const std::string probe = EdfHeader(fields_, 1, error);
  if (probe.empty()) return false;
  headerBytes_ = probe.size();
  lastValues_.assign(signals, 0);
  record_.assign(signals * static_cast<std::size_t>(layout_.samplesPerRecord), 0);
  outcome_ = {PartialPath(path_), false, "nothing recorded"};
  if (!file_.Create(PartialPath(path_), replace_, error)) return false;
  begun_ = true;
  return true;
}

bool EdfWriter::Start(const RecordingHeader &header, std::string &error) {
  if (records_ > 0) return true;
  header_.startTime = header.startTime;
  header_.startMilliseconds = header.startMilliseconds;
  header_.monotonicStart = header.monotonicStart;
  fields_.start = LocalStartTime(header_);
  // EDF+ keeps the start to the second in the header and the fraction in
  // the first record's time stamp.
  subsecondUs_ = static_cast<std::int64_t>(header_.startMilliseconds) * 1000;
  if (EdfHeader(fields_, 1, error).empty()) return false;
  const DeviceIdentity &id = header_.identity;
  Annotate(0, std::nullopt, "Device " + id.serial + " uid " + UniqueIdText(id.uniqueId));
  Annotate(0, std::nullopt, "Firmware " + id.version + ", vornctl " + kVornctlVersion);
  return true;
}

void EdfWriter::Annotate(std::int64_t sample, std::optional<std::int64_t> sets, const std::string &text) {
  std::optional<std::int64_t> durationUs;
  if (sets) durationUs = *sets * header_.periodUs;
  annotations_.push_back(EdfAnnotation(OnsetUs(sample), durationUs, text.substr(0, kAnnotationText)));
}

bool EdfWriter::Add(const std::vector<std::int32_t> *values, double, std::string &error) {
  if (failed_) return false;
  const std::size_t signals = lastValues_.size();
  if (values) {
    for (std::size_t s = 0; s < signals; ++s) {
      const auto [dlo, dhi] = digitalRanges_[s];
      const std::int32_t v = (*values)[s];
      if (v < dlo || v > dhi) ++clamped_;
      lastValues_[s] = std::clamp<int>(v, dlo, dhi);
    }
  } else {
    ++lostInRecord_;
  }
  return Put(lastValues_.data(), error);
}

bool EdfWriter::Put(const int *values, std::string &error) {
  // A full record waits for the next set, so the closing annotations always
  // have a record to go in.
  if (inRecord_ == layout_.samplesPerRecord && !WriteRecord(error)) return false;
  const std::size_t signals = lastValues_.size();
  const auto perRecord = static_cast<std::size_t>(layout_.samplesPerRecord);
  for (std::size_t s = 0; s < signals; ++s) {
    record_[s * perRecord + static_cast<std::size_t>(inRecord_)] = static_cast<std::int16_t>(values[s]);
  }
  ++inRecord_;
  return true;
}

bool EdfWriter::Gap(std::int64_t sets, const std::string &reason, std::string &error) {
  if (failed_) return false;
  if (sets <= 0) return true;
  // The time axis stays true: the gap's sets are there, marked bad for analysis.
  // They hold the last values, as a damaged line does: a jump to a constant
  // would ring into the good data on both sides when the signal is filtered.
  Annotate(Index(), sets, "BAD_gap " + reason);
  for (std::int64_t i = 0; i < sets; ++i) {
    if (!Put(lastValues_.data(), error)) return false;
  }
  return true;
}

bool EdfWriter::Failed(const std::string &reason, std::string &error) {
  failed_ = true;
  error = "cannot write the EDF+ file " + PathForMessage(path_) + ": " + reason;
  return false;
}

bool EdfWriter::WriteRecord(std::string &error) {
  if (lostInRecord_ > 0) {
    // EDF+ has no gap inside a record: the previous values stand in, and the annotation says so.
    Annotate(records_ * layout_.samplesPerRecord, std::nullopt,
             std::to_string(lostInRecord_) + " damaged line(s), values repeated");
    lostInRecord_ = 0;
  }
  std::string bytes;
  if (records_ == 0) bytes = EdfHeader(fields_, 1, error);
  for (std::int16_t v : record_) {
    const auto u = static_cast<std::uint16_t>(v);
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  std::string tals = EdfAnnotation(subsecondUs_ + records_ * layout_.recordUs, std::nullopt, "");
  while (!annotations_.empty() && tals.size() + annotations_.front().size() <= kAnnotationBytes) {
    tals += annotations_.front();
    annotations_.pop_front();
  }
  tals.resize(kAnnotationBytes, '\0');
  bytes += tals;
  std::size_t written = 0;
  std::string reason;
  const std::uint64_t before = records_ == 0 ? 0 : headerBytes_ + static_cast<std::uint64_t>(records_) * (bytes.size());
  if (!file_.Append(bytes, written, reason)) {
    // Whole records only: what was cut off goes again.
    std::string ignored;
    file_.Truncate(before, ignored);
    return Failed(reason, error);
  }
  ++records_;
  inRecord_ = 0;
  if (records_ > 1) {
    // The count follows each record, so a file cut short still says what it holds.
    std::string count = std::to_string(records_);
    count.resize(kEdfRecordCountWidth, ' ');
    if (!file_.WriteAt(kEdfRecordCountOffset, count, reason)) return Failed(reason, error);
  }
  return true;
}

std::string EdfWriter::Holds() const {
  const std::int64_t sets = records_ * layout_.samplesPerRecord;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%g", static_cast<double>(records_ * layout_.recordUs) / 1e6);
  return std::to_string(records_) + " data record(s), " + std::to_string(sets) + " sample sets, " + seconds + " s";
}

bool EdfWriter::Finish(const RecordingSummary &summary, std::string &error) {
  if (!begun_ || finished_) return !failed_;
  finished_ = true;
  bool ok = !failed_;
  const std::int64_t end = Index();
  if (ok && end > 0) {
    // Both at the true end of the data, before any padding.
    if (summary.interrupted) {
      Annotate(end, std::nullopt, "Stopped by " + (summary.stopSignal.empty() ? "the user" : summary.stopSignal));
    }
    const std::int64_t padding = layout_.samplesPerRecord - inRecord_;
    Annotate(end, std::nullopt,
             padding > 0 ? "Recording ends, " + std::to_string(padding) + " samples padded" : "Recording ends");
    // The padding is no data either: analysis leaves it out as it does a gap.
    if (padding > 0) Annotate(end, padding, "BAD_padding");
    // A data record is always whole: the final values fill the last one up.
    const std::vector<int> last = lastValues_;
    for (std::int64_t i = 0; i < padding && ok; ++i) ok = Put(last.data(), error);
    if (ok) ok = WriteRecord(error);
    if (ok && !annotations_.empty()) {
      std::fprintf(stderr, "vornctl: %s: %zu annotation(s) did not fit the last data record\n", path_.c_str(),
                   annotations_.size());
    }
  }
  if (clamped_ > 0) {
    std::fprintf(stderr, "vornctl: %s: %lld value(s) outside the 16-bit EDF range were clamped\n", path_.c_str(),
                 static_cast<long long>(clamped_));
  }
  std::string reason;
  if (records_ == 0) {
    file_.Close(reason);
    RemoveFile(file_.Path());
    outcome_ = {path_, false,
                end == 0 ? "no sample set arrived, and EDF+ readers cannot open a file without data: none was written"
                         : "nothing reached the file"};
    return ok;
  }
  outcome_.holds = Holds();
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

std::optional<OutputOutcome> EdfWriter::Outcome() const {
  if (!begun_) return std::nullopt;
  OutputOutcome out = outcome_;
  if (!finished_) out.holds = Holds();
  out.written = out.written || records_ > 0;
  return out;
}

}  // namespace

std::unique_ptr<SampleSink> MakeEdfWriter(std::string path, bool replace) {
  return std::make_unique<EdfWriter>(std::move(path), replace);
}

}  // namespace vornctl
