#include <cstdio>
#include <ctime>
#include <filesystem>

#include "tools/vorn-soak/report.h"

namespace vorn_soak {

namespace {

std::string JsonString(const std::string &s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string JsonResources(const Resources &x) {
  return "{\"threads\": " + std::to_string(x.threads) + ", \"descriptors\": " + std::to_string(x.descriptors) +
         ", \"resident_kib\": " + std::to_string(x.residentKiB) + "}";
}

}  // namespace

bool WriteJson(const std::string &path, const std::vector<Result> &results, bool passed) {
  std::error_code ec;
  const std::filesystem::path p(path);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path(), ec);
  std::FILE *f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  char stamp[64];
  const std::time_t now = std::time(nullptr);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  std::fprintf(f, "{\n  \"date\": \"%s\",\n  \"resident_tolerance_kib\": %ld,\n  \"passed\": %s,\n  \"scenarios\": [\n",
               stamp, kResidentToleranceKiB, passed ? "true" : "false");
  for (std::size_t i = 0; i < results.size(); ++i) {
    const Result &r = results[i];
    std::fprintf(f,
                 "    {\"name\": %s, \"unit\": %s, \"requested\": %ld, \"survived\": %ld, \"lines_checked\": %ld, "
                 "\"lines_lost\": %ld, \"faults_injected\": %ld, \"fault_unit\": %s, \"leaks\": %ld, \"seconds\": %.2f,\n"
                 "     \"before\": %s, \"after\": %s,\n     \"failures\": [",
                 JsonString(r.name).c_str(), JsonString(r.unit).c_str(), r.requested, r.survived, r.linesChecked,
                 r.linesLost, r.faults, JsonString(r.faultUnit).c_str(), r.leaks, r.seconds,
                 JsonResources(r.before).c_str(), JsonResources(r.after).c_str());
    for (std::size_t k = 0; k < r.failures.size(); ++k)
      std::fprintf(f, "%s%s", k ? ", " : "", JsonString(r.failures[k]).c_str());
    std::fprintf(f, "], \"notes\": [");
    for (std::size_t k = 0; k < r.notes.size(); ++k)
      std::fprintf(f, "%s%s", k ? ", " : "", JsonString(r.notes[k]).c_str());
    std::fprintf(f, "]}%s\n", i + 1 < results.size() ? "," : "");
  }
  std::fprintf(f, "  ]\n}\n");
  return std::fclose(f) == 0;
}

}  // namespace vorn_soak
