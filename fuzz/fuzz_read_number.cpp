// ReadNumber never reads past its text and agrees with strtof on plain decimal input.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/fields.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::u16string text;
  std::string narrow;
  for (std::size_t i = 0; i < size; ++i) {
    text.push_back(static_cast<char16_t>(data[i]));
    narrow.push_back(static_cast<char>(data[i]));
  }
  const float value = OpenPlotr::ReadNumber(text);
  OpenPlotr::TruncateToRevision(value);
  // For a text made only of digits (and at most one point), the classic reading is exact.
  bool plain = !narrow.empty() && narrow.size() < 30;
  int points = 0;
  for (char c : narrow) {
    if (c == '.') ++points;
    else if (c < '0' || c > '9') plain = false;
  }
  if (plain && points <= 1 && narrow != ".") {
    const float expected = std::strtof(narrow.c_str(), nullptr);
    if (std::isfinite(expected) && value != expected) std::abort();
  }
  return 0;
}
