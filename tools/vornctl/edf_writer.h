// A recording as EDF+ (continuous, EDF+C): one signal per channel with the
// device's label, unit and physical range, digital range 0..32767, and one
// annotation signal. Written here rather than through a library so that the
// file on disk is always one a reader opens: whole data records only, the
// record count in the header kept current after each, the annotations in the
// record they belong to.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vornctl/recording.h"

namespace vornctl {

// Files whose name ends in ".edf" (any case) are written as EDF+.
bool IsEdfPath(std::string_view path);

// How sample sets are grouped into EDF data records: samplesPerRecord sets
// of periodUs make one record of recordUs, about a second long and a whole
// number of 10 us.
struct EdfRecordLayout {
  std::int64_t samplesPerRecord = 0;
  std::int64_t recordUs = 0;
};
bool ChooseEdfRecordLayout(std::int64_t periodUs, EdfRecordLayout &layout, std::string &error);

// EDF header text: printable ASCII only (µ as u, ° as deg), at most width characters.
std::string EdfText(std::string_view text, std::size_t width);
// One subfield of the patient or recording field: no spaces, "X" when empty.
std::string EdfSubfield(std::string_view text, std::size_t width);
// A number in at most 8 characters, as the header's fields hold them.
std::optional<std::string> EdfNumber(double value);
// A time-stamped annotation list entry: onset (and duration) in microseconds.
std::string EdfAnnotation(std::int64_t onsetUs, std::optional<std::int64_t> durationUs, std::string_view text);

struct EdfSignal {
  std::string label;
  std::string unit;
  double physicalMinimum = 0;
  double physicalMaximum = 1;
  int digitalMinimum = 0;
  int digitalMaximum = 32767;
  std::int64_t samplesPerRecord = 0;
};
struct EdfHeaderFields {
  std::string patient;    // code sex birthdate name
  std::string recording;  // admincode technician equipment (after the start date)
  std::tm start{};        // local time
  std::int64_t recordUs = 0;
  std::vector<EdfSignal> signals;  // the annotation signal last
};
// The header of a file of `records` data records; empty (and error set) when
// a field does not fit.
std::string EdfHeader(const EdfHeaderFields &fields, std::int64_t records, std::string &error);
// Where the record count sits in the header, and its width.
inline constexpr std::size_t kEdfRecordCountOffset = 236;
inline constexpr std::size_t kEdfRecordCountWidth = 8;

// replace: an existing file of that name is replaced at the end (--force).
std::unique_ptr<SampleSink> MakeEdfWriter(std::string path, bool replace = false);

}  // namespace vornctl
