// A recording as EDF+ (through EDFlib): one signal per channel with the
// device's label, unit and physical range, digital range 0..32767.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vornctl/recording.h"

namespace vornctl {

// False where vornctl was built without EDFlib.
bool EdfAvailable();

// Files whose name ends in ".edf" (any case) are written as EDF+.
bool IsEdfPath(std::string_view path);

// How sample sets are grouped into EDF data records: samplesPerRecord sets
// of periodUs make one record of recordUs, about a second long and a whole
// number of 10 us (EDF+ writes the duration in those units).
struct EdfRecordLayout {
  std::int64_t samplesPerRecord = 0;
  std::int64_t recordUs = 0;
};
bool ChooseEdfRecordLayout(std::int64_t periodUs, EdfRecordLayout &layout, std::string &error);

// EDF header text: printable ASCII only, at most width characters.
std::string EdfText(std::string_view text, std::size_t width);

std::unique_ptr<SampleSink> MakeEdfWriter(std::string path);

}  // namespace vornctl
