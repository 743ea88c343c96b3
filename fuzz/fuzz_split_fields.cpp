// SplitFields and ForEachField agree, and joining the fields with commas gives
// back the line without its final comma.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/fields.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::u16string line;
  for (std::size_t i = 0; i < size; ++i) line.push_back(data[i] % 3 == 0 ? u',' : static_cast<char16_t>(data[i]));
  const auto fields = OpenPlotr::SplitFields(line);
  std::u16string joined;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) joined += u',';
    joined += fields[i];
  }
  std::u16string expected = line;
  if (!expected.empty() && expected.back() == u',') expected.pop_back();
  if (joined != expected) std::abort();
  return 0;
}
