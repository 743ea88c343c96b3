#include "tools/vornctl/edf_writer.h"

#include <edflib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "tools/vornctl/commands.h"

namespace vornctl {

namespace {

constexpr int kDigitalMinimum = 0;
constexpr int kDigitalMaximum = 32767;
// EDF+ holds 16-bit digital values; a channel the driver forwards unscaled
// can only be stored within them.
constexpr int kUnscaledMinimum = -32768;
constexpr int kUnscaledMaximum = 32767;

class EdfWriter : public SampleSink {
 public:
  explicit EdfWriter(std::string path) : path_(std::move(path)) {}
  ~EdfWriter() override {
    if (handle_ >= 0) edfclose_file(handle_);
  }
  EdfWriter(const EdfWriter &) = delete;
  EdfWriter &operator=(const EdfWriter &) = delete;

  bool Begin(const RecordingHeader &header, std::string &error) override;
  bool Add(const std::vector<std::int32_t> *values, double hostSeconds, std::string &error) override;
  bool Note(std::int64_t atSample, const std::string &text, std::string &error) override;
  bool Finish(const RecordingSummary &summary, std::string &error) override;

 private:
  bool Put(const std::vector<std::int32_t> *values, std::string &error);
  bool WriteRecord(std::string &error);
  void Annotate(std::int64_t sample, const std::string &text);
  std::int64_t OnsetUnits(std::int64_t sample) const { return sample * periodUs_ / 100; }

  std::string path_;
  int handle_ = -1;
  std::int64_t periodUs_ = 0;
  EdfRecordLayout layout_;
  std::vector<std::pair<int, int>> digitalRanges_;
  std::vector<int> record_;      // channel-major, as EDFlib takes a data record
  std::vector<int> lastValues_;  // stands in for a damaged line's values
  std::int64_t inRecord_ = 0;
  std::int64_t written_ = 0;
  std::int64_t lostInRecord_ = 0;
  std::int64_t clamped_ = 0;
};

bool EdfWriter::Begin(const RecordingHeader &header, std::string &error) {
  periodUs_ = header.periodUs;
  if (!ChooseEdfRecordLayout(periodUs_, layout_, error)) return false;
  const int signals = static_cast<int>(header.channels.size());
  if (signals < 1 || signals > EDFLIB_MAXSIGNALS) {
    error = "EDF+ holds 1 to " + std::to_string(EDFLIB_MAXSIGNALS) + " signals, not " + std::to_string(signals);
    return false;
  }
  handle_ = edfopen_file_writeonly(path_.c_str(), EDFLIB_FILETYPE_EDFPLUS, signals);
  if (handle_ < 0) {
    error = "cannot create the EDF+ file " + path_ + " (EDFlib error " + std::to_string(handle_) + ")";
    handle_ = -1;
    return false;
  }
  bool ok = true;
  if (layout_.recordUs < 10000) {
    ok = edf_set_micro_datarecord_duration(handle_, static_cast<int>(layout_.recordUs)) == 0;
  } else {
    ok = edf_set_datarecord_duration(handle_, static_cast<int>(layout_.recordUs / 10)) == 0;
  }
  digitalRanges_.clear();
  for (int s = 0; s < signals && ok; ++s) {
    const ChannelInfo &c = header.channels[static_cast<std::size_t>(s)];
    double lo = c.minimum;
    double hi = c.maximum;
    int dlo = kDigitalMinimum;
    int dhi = kDigitalMaximum;
    if (!c.hasRange) {
      lo = kUnscaledMinimum;
      hi = kUnscaledMaximum;
      dlo = kUnscaledMinimum;
      dhi = kUnscaledMaximum;
    } else if (!(hi != lo)) {
      // A channel without a span reads as its minimum; EDF+ needs a span.
      hi = lo + 1;
    }
    digitalRanges_.emplace_back(dlo, dhi);
    ok = edf_set_samplefrequency(handle_, s, static_cast<int>(layout_.samplesPerRecord)) == 0 &&
         edf_set_physical_minimum(handle_, s, lo) == 0 && edf_set_physical_maximum(handle_, s, hi) == 0 &&
         edf_set_digital_minimum(handle_, s, dlo) == 0 && edf_set_digital_maximum(handle_, s, dhi) == 0 &&
         edf_set_label(handle_, s, EdfText(c.name, 16).c_str()) == 0 &&
         edf_set_physical_dimension(handle_, s, EdfText(c.unit, 8).c_str()) == 0;
  }
  // Only the main thread formats times, so the shared result of localtime is safe here.
  const std::tm start = *std::localtime(&header.startTime);
  const DeviceIdentity &id = header.identity;
  // The recording field holds 80 characters in all, and EDFlib keeps less
  // for its last part: the equipment is the product and serial text, the
  // technician vornctl, the investigation code the user's --recording text;
  // the identifier and the versions are annotated at the start (the period
  // is each signal's sample rate).
  ok = ok &&
       edf_set_startdatetime(handle_, start.tm_year + 1900, start.tm_mon + 1, start.tm_mday, start.tm_hour,
                             start.tm_min, start.tm_sec) == 0 &&
       edf_set_subsecond_starttime(handle_, header.startMilliseconds * 10000) == 0 &&
       edf_set_equipment(handle_, EdfText(id.product + " " + id.serial, 80).c_str()) == 0 &&
       edf_set_technician(handle_, EdfText(std::string("vornctl") + kVornctlVersion, 80).c_str()) == 0 &&
       (header.recording.empty() || edf_set_admincode(handle_, EdfText(header.recording, 80).c_str()) == 0) &&
       (header.subject.empty() || edf_set_patientname(handle_, EdfText(header.subject, 80).c_str()) == 0) &&
       // EDFlib writes one annotation per annotation signal and data record: room
       // for the start's two, a damaged-lines note, a reconnection and the closing ones.
       edf_set_number_of_annotation_signals(handle_, 6) == 0;
  if (!ok) {
    error = "EDFlib refused the header of " + path_;
    return false;
  }
  Annotate(0, "Device " + id.serial + " uid " + UniqueIdText(id.uniqueId));
  Annotate(0, "Firmware " + id.version + ", vornctl " + kVornctlVersion);
  record_.assign(static_cast<std::size_t>(signals * layout_.samplesPerRecord), 0);
  lastValues_.assign(static_cast<std::size_t>(signals), 0);
  return true;
}

bool EdfWriter::Add(const std::vector<std::int32_t> *values, double, std::string &error) { return Put(values, error); }

bool EdfWriter::Note(std::int64_t atSample, const std::string &text, std::string &) {
  Annotate(atSample, text);
  return true;
}

bool EdfWriter::Put(const std::vector<std::int32_t> *values, std::string &error) {
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
  for (std::size_t s = 0; s < signals; ++s) {
    record_[s * static_cast<std::size_t>(layout_.samplesPerRecord) + static_cast<std::size_t>(inRecord_)] =
        lastValues_[s];
  }
  if (++inRecord_ == layout_.samplesPerRecord) return WriteRecord(error);
  return true;
}

void EdfWriter::Annotate(std::int64_t sample, const std::string &text) {
  // EDFlib keeps at most this many bytes of an annotation; longer texts are cut.
  constexpr std::size_t kAnnotationBytes = 40;
  edfwrite_annotation_utf8(handle_, OnsetUnits(sample), -1, text.substr(0, kAnnotationBytes).c_str());
}

bool EdfWriter::WriteRecord(std::string &error) {
  if (lostInRecord_ > 0) {
    // EDF+ has no gap inside a record: the previous values stand in, and the annotation says so.
    Annotate(written_, std::to_string(lostInRecord_) + " damaged line(s), values repeated");
  }
  if (edf_blockwrite_digital_samples(handle_, record_.data()) != 0) {
    error = "cannot write the EDF+ file " + path_;
    return false;
  }
  written_ += inRecord_;
  inRecord_ = 0;
  lostInRecord_ = 0;
  return true;
}

bool EdfWriter::Finish(const RecordingSummary &summary, std::string &error) {
  if (handle_ < 0) return true;
  bool ok = true;
  // Both at the true end of the data, before any padding.
  const std::int64_t end = written_ + inRecord_;
  if (summary.interrupted)
    Annotate(end, "Stopped by " + (summary.stopSignal.empty() ? "the user" : summary.stopSignal));
  if (inRecord_ > 0) {
    // A data record is always whole: the final values fill the last one up.
    const std::int64_t padding = layout_.samplesPerRecord - inRecord_;
    const std::vector<std::int32_t> last(lastValues_.begin(), lastValues_.end());
    for (std::int64_t i = 0; i < padding && ok; ++i) ok = Put(&last, error);
    Annotate(end, "Recording ends, " + std::to_string(padding) + " samples padded");
  } else {
    Annotate(end, "Recording ends");
  }
  if (clamped_ > 0) {
    std::fprintf(stderr, "vornctl: %s: %lld value(s) outside the 16-bit EDF range were clamped\n", path_.c_str(),
                 static_cast<long long>(clamped_));
  }
  if (edfclose_file(handle_) != 0 && ok) {
    error = "cannot finish the EDF+ file " + path_;
    ok = false;
  }
  handle_ = -1;
  return ok;
}

}  // namespace

bool EdfAvailable() { return true; }

std::unique_ptr<SampleSink> MakeEdfWriter(std::string path) { return std::make_unique<EdfWriter>(std::move(path)); }

}  // namespace vornctl
