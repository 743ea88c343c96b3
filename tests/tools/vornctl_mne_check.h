// An EDF+ file read back with MNE (tests/tools/edf_read_back.py under
// Debian's Python), as a researcher would read it.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

namespace vorn_test {

struct MneReading {
  int status = -1;  // 0 read, 77 MNE missing, else MNE failed
  std::string output;
  std::map<std::string, std::string> values;
  double Number(const std::string &key) const {
    const auto it = values.find(key);
    return it == values.end() ? -1 : std::strtod(it->second.c_str(), nullptr);
  }
};

inline MneReading ReadWithMne(const std::string &path) {
  MneReading reading;
  const std::string command = std::string("/usr/bin/python3 ") + VORN_EDF_READ_BACK + " '" + path + "' 2>&1";
  std::FILE *pipe = ::popen(command.c_str(), "r");
  if (!pipe) return reading;
  char chunk[4096];
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) reading.output.append(chunk, n);
  const int status = ::pclose(pipe);
  reading.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::istringstream lines(reading.output);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t space = line.find(' ');
    if (space != std::string::npos) reading.values[line.substr(0, space)] = line.substr(space + 1);
  }
  return reading;
}

}  // namespace vorn_test
