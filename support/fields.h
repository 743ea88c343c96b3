// The comma splitter and the number reader shared by every line parser.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace OpenPlotr {

// The value of a field that holds no readable number.
inline constexpr float kUnreadableNumber = std::numeric_limits<float>::lowest();

// a,,b gives three fields; a,b, gives two; an empty line gives none.
std::vector<std::u16string> SplitFields(std::u16string_view line);

// Calls visit(field) for each field as SplitFields would produce it, without allocating.
template <typename Visit>
void ForEachField(std::u16string_view line, Visit visit) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == u',') {
      visit(line.substr(start, i - start));
      start = i + 1;
    }
  }
  if (!line.empty() && line.back() != u',') visit(line.substr(start));
}

// Reads a float as a classic-locale stream extraction would, whatever the
// process locale: leading white space skipped, longest numeric prefix used.
float ReadNumber(std::u16string_view text);

// Truncates toward zero through 64 bits and keeps the low 32; out of range gives 0.
std::int32_t TruncateToRevision(float value);

// Truncates toward zero, saturating to the 32-bit range (unreadable values included).
std::int32_t SaturateToInt32(double value);

}  // namespace OpenPlotr
