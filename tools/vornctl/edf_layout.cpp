// The EDF+ rules that do not need EDFlib, so every build agrees on them.
#include <algorithm>
#include <cctype>
#include <numeric>

#include "tools/vornctl/edf_writer.h"

namespace vornctl {

bool IsEdfPath(std::string_view path) {
  if (path.size() < 4) return false;
  std::string tail(path.substr(path.size() - 4));
  for (char &c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".edf";
}

bool ChooseEdfRecordLayout(std::int64_t periodUs, EdfRecordLayout &layout, std::string &error) {
  // EDFlib takes data records of 1 ms to 60 s.
  if (periodUs <= 0 || periodUs > 60000000) {
    error = "EDF+ cannot hold a sample period of " + std::to_string(periodUs) + " us";
    return false;
  }
  std::int64_t n = std::max<std::int64_t>(1, 1000000 / periodUs);
  while (n * periodUs < 1000) ++n;
  // The record duration must be a whole number of 10 us.
  const std::int64_t step = 10 / std::gcd<std::int64_t>(periodUs, 10);
  n = (n + step - 1) / step * step;
  if (n * periodUs > 60000000) n -= step;
  if (n <= 0 || (n * periodUs) % 10 != 0) {
    error = "EDF+ cannot hold a sample period of " + std::to_string(periodUs) + " us";
    return false;
  }
  layout.samplesPerRecord = n;
  layout.recordUs = n * periodUs;
  return true;
}

std::string EdfText(std::string_view text, std::size_t width) {
  std::string out;
  for (char c : text) {
    if (out.size() == width) break;
    const auto u = static_cast<unsigned char>(c);
    out += (u >= 0x20 && u < 0x7F) ? c : '_';
  }
  return out;
}

}  // namespace vornctl
