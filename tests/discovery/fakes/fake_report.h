// How the doubles report to the test that loaded them: counters kept in the
// process environment, which outlives the double's own unloading.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace vorn_test {

inline long ReadCounter(const char *name) {
  char text[32] = {};
  if (GetEnvironmentVariableA(name, text, sizeof text) == 0) return 0;
  return std::strtol(text, nullptr, 10);
}

inline void AddToCounter(const char *name, long delta) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld", ReadCounter(name) + delta);
  SetEnvironmentVariableA(name, text);
}

// The script named by the environment variable, one line per entry, fields split at '|'.
inline std::vector<std::vector<std::string>> ReadScript(const char *variable) {
  std::vector<std::vector<std::string>> lines;
  char path[MAX_PATH] = {};
  if (GetEnvironmentVariableA(variable, path, sizeof path) == 0) return lines;
  FILE *file = std::fopen(path, "rb");
  if (!file) return lines;
  char line[1024];
  while (std::fgets(line, sizeof line, file)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.empty() || text[0] == '#') continue;
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
      const std::size_t bar = text.find('|', start);
      fields.push_back(text.substr(start, bar - start));
      if (bar == std::string::npos) break;
      start = bar + 1;
    }
    lines.push_back(std::move(fields));
  }
  std::fclose(file);
  return lines;
}

inline std::wstring Widen(const std::string &text) { return std::wstring(text.begin(), text.end()); }

}  // namespace vorn_test
