#include "tools/vornctl/text_table.h"

#include <algorithm>

namespace vornctl {

std::string TextTable::Text() const {
  std::vector<std::size_t> widths;
  for (const auto &row : rows_) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    // The last column is not padded, so its width does not matter.
    for (std::size_t k = 0; k + 1 < row.size(); ++k) widths[k] = std::max(widths[k], row[k].size());
  }
  std::string out;
  for (const auto &row : rows_) {
    std::string line;
    for (std::size_t k = 0; k < row.size(); ++k) {
      const bool last = k + 1 == row.size();
      const std::size_t fill = widths[k] - std::min(widths[k], row[k].size());
      if (k >= firstRight_ && !last) line.append(fill, ' ');
      line += row[k];
      if (k < firstRight_ && !last) line.append(fill, ' ');
      if (!last) line += "  ";
    }
    line.erase(line.find_last_not_of(' ') + 1);
    out += line + "\n";
  }
  return out;
}

}  // namespace vornctl
