// Columns of text padded to their widest cell, for list and info.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vornctl {

class TextTable {
 public:
  // Columns from firstRightAligned on (numbers) are aligned to the right.
  explicit TextTable(std::vector<std::string> heading, std::size_t firstRightAligned = SIZE_MAX)
      : firstRight_(firstRightAligned) {
    rows_.push_back(std::move(heading));
  }
  void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  // Two spaces between columns, trailing blanks trimmed, one line per row.
  // The last column is never padded, so it may hold wide characters.
  std::string Text() const;

 private:
  std::size_t firstRight_;
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace vornctl
