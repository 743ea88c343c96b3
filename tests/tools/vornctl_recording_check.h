// Reads a vornctl CSV back and checks what every recording must satisfy.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vorn_test {

struct ExpectedChannel {
  std::string name;
  std::string unit;
  double minimum;
  double maximum;
};

struct CsvRecording {
  std::vector<std::string> comments;  // "# key: value" lines before the header, prefix removed
  std::vector<std::string> notes;     // comment lines between the rows
  std::vector<std::size_t> noteRows;  // the row each note comes before
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
  bool endsWithLineFeed = false;

  std::string Comment(const std::string &key) const {
    for (const std::string &c : comments) {
      if (c.rfind(key + ": ", 0) == 0) return c.substr(key.size() + 2);
    }
    return {};
  }
};

inline std::vector<std::string> SplitCsvLine(const std::string &line) {
  std::vector<std::string> cells;
  std::stringstream in(line);
  std::string cell;
  while (std::getline(in, cell, ',')) cells.push_back(cell);
  if (!line.empty() && line.back() == ',') cells.emplace_back();
  return cells;
}

inline CsvRecording ReadCsv(const std::string &path) {
  CsvRecording csv;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    csv.endsWithLineFeed = !in.eof();
    if (line.rfind("# ", 0) == 0) {
      if (csv.header.empty()) {
        csv.comments.push_back(line.substr(2));
      } else {
        csv.notes.push_back(line.substr(2));
        csv.noteRows.push_back(csv.rows.size());
      }
    } else if (csv.header.empty()) {
      csv.header = SplitCsvLine(line);
    } else {
      csv.rows.push_back(SplitCsvLine(line));
    }
  }
  return csv;
}

inline std::vector<std::string> ExpectedHeader(const std::vector<ExpectedChannel> &channels) {
  std::vector<std::string> header = {"time [s]", "host time [s]"};
  for (const ExpectedChannel &c : channels) {
    header.push_back(c.name + " raw");
    header.push_back(c.name + " [" + c.unit + "]");
  }
  return header;
}

// The sample sets of a "GAP: start S s, duration D s, sets N, reason R" note; 0 for other notes.
inline long GapSets(const std::string &note) {
  if (note.rfind("GAP: ", 0) != 0) return 0;
  const std::size_t at = note.find(", sets ");
  return at == std::string::npos ? -1 : std::strtol(note.c_str() + at + 7, nullptr, 10);
}

// Header, a time column that advances by exactly one period per row and by
// each gap's sets at a gap, a host time that never runs backwards, raw values
// within 0..32767 and physical values within the channel's range that agree
// with the raw ones; every row complete.
inline void CheckRecording(const CsvRecording &csv, const std::vector<ExpectedChannel> &channels, double periodS) {
  ASSERT_EQ(csv.header, ExpectedHeader(channels));
  long index = 0;
  std::size_t note = 0;
  for (std::size_t i = 0; i < csv.rows.size(); ++i) {
    for (; note < csv.notes.size() && csv.noteRows[note] <= i; ++note) {
      ASSERT_GE(GapSets(csv.notes[note]), 0) << csv.notes[note];
      index += GapSets(csv.notes[note]);
    }
    const std::vector<std::string> &row = csv.rows[i];
    ASSERT_EQ(row.size(), 2 + 2 * channels.size()) << "row " << i;
    ASSERT_NEAR(std::strtod(row[0].c_str(), nullptr), static_cast<double>(index++) * periodS, 1e-9) << "row " << i;
    const double host = std::strtod(row[1].c_str(), nullptr);
    ASSERT_GE(host, 0) << "row " << i;
    if (i > 0) {
      ASSERT_GE(host, std::strtod(csv.rows[i - 1][1].c_str(), nullptr)) << "row " << i;
    }
    for (std::size_t c = 0; c < channels.size(); ++c) {
      const ExpectedChannel &ch = channels[c];
      ASSERT_FALSE(row[2 + 2 * c].empty()) << "row " << i << " has no value for " << ch.name;
      const long raw = std::strtol(row[2 + 2 * c].c_str(), nullptr, 10);
      const double physical = std::strtod(row[3 + 2 * c].c_str(), nullptr);
      ASSERT_GE(raw, 0) << "row " << i;
      ASSERT_LE(raw, 32767) << "row " << i;
      const double span = ch.maximum - ch.minimum;
      ASSERT_GE(physical, ch.minimum - span * 1e-6) << "row " << i << " " << ch.name;
      ASSERT_LE(physical, ch.maximum + span * 1e-6) << "row " << i << " " << ch.name;
      ASSERT_NEAR(physical, ch.minimum + static_cast<double>(raw) / 32767 * span, span * 1e-5) << "row " << i;
    }
  }
}

}  // namespace vorn_test
