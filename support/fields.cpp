#include "support/fields.h"

#include <charconv>
#include <cmath>

namespace OpenPlotr {

std::vector<std::u16string> SplitFields(std::u16string_view line) {
  std::vector<std::u16string> fields;
  ForEachField(line, [&](std::u16string_view field) { fields.emplace_back(field); });
  return fields;
}

namespace {

bool IsClassicSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsNumberCharacter(char16_t c) {
  return (c >= u'0' && c <= u'9') || c == u'.' || c == u'+' || c == u'-' || c == u'e' || c == u'E';
}

}  // namespace

float ReadNumber(std::u16string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsClassicSpace(text[i])) ++i;
  text.remove_prefix(i);

  // Only these characters can continue a number; the run is taken whole, however long
  // (zeros in front, a long fraction), so that what follows it is never cut off.
  std::size_t n = 0;
  while (n < text.size() && IsNumberCharacter(text[n])) ++n;
  // Fields of ordinary length are read from the stack, keeping the decoder allocation-free.
  char small[64];
  std::string large;
  char *ascii = small;
  if (n > sizeof small) {
    large.resize(n);
    ascii = large.data();
  }
  for (std::size_t k = 0; k < n; ++k) ascii[k] = static_cast<char>(text[k]);

  // A stream extraction accepts a sign and then digits or a point; it never reads inf or nan.
  std::size_t p = 0;
  if (p < n && (ascii[p] == '+' || ascii[p] == '-')) ++p;
  const bool startsNumber = p < n && (IsDigit(ascii[p]) || (ascii[p] == '.' && p + 1 < n && IsDigit(ascii[p + 1])));
  if (!startsNumber) return kUnreadableNumber;

  const char *first = ascii[0] == '+' ? ascii + 1 : ascii;
  float value = 0;
  const auto result = std::from_chars(first, ascii + n, value, std::chars_format::general);
  if (result.ec != std::errc{}) return kUnreadableNumber;
  return value;
}

std::int32_t TruncateToRevision(float value) {
  const double truncated = std::trunc(static_cast<double>(value));
  if (!(truncated >= -9223372036854775808.0 && truncated < 9223372036854775808.0)) return 0;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(truncated)));
}

std::int32_t SaturateToInt32(double value) {
  if (std::isnan(value)) return 0;
  const double truncated = std::trunc(value);
  if (truncated <= -2147483648.0) return INT32_MIN;
  if (truncated >= 2147483647.0) return INT32_MAX;
  return static_cast<std::int32_t>(truncated);
}

}  // namespace OpenPlotr
