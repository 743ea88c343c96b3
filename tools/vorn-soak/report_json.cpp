#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "tools/vorn-soak/report.h"

namespace vorn_soak {

namespace {

using Json = nlohmann::ordered_json;

Json ResourcesJson(const Resources &x) {
  Json j;
  j["threads"] = x.threads;
  j["descriptors"] = x.descriptors;
  j["resident_kib"] = x.residentKiB;
  return j;
}

Json ScenarioJson(const Result &r) {
  Json j;
  j["name"] = r.name;
  j["unit"] = r.unit;
  j["requested"] = r.requested;
  j["survived"] = r.survived;
  j["lines_checked"] = r.linesChecked;
  j["lines_lost"] = r.linesLost;
  j["faults_injected"] = r.faults;
  j["fault_unit"] = r.faultUnit;
  j["leaks"] = r.leaks;
  // Hundredths of a second are all the figure claims.
  j["seconds"] = std::round(r.seconds * 100) / 100;
  j["before"] = ResourcesJson(r.before);
  j["after"] = ResourcesJson(r.after);
  j["failures"] = r.failures;
  j["notes"] = r.notes;
  return j;
}

}  // namespace

bool WriteJson(const std::string &path, const std::vector<Result> &results, bool passed) {
  std::error_code ec;
  const std::filesystem::path p(path);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path(), ec);
  char stamp[64];
  const std::time_t now = std::time(nullptr);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  Json report;
  report["date"] = stamp;
  report["resident_tolerance_kib"] = kResidentToleranceKiB;
  report["passed"] = passed;
  report["scenarios"] = Json::array();
  for (const Result &r : results) report["scenarios"].push_back(ScenarioJson(r));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  // A failure text may quote bytes a faulty device sent: they are not UTF-8, so
  // they are replaced rather than ending the report.
  out << report.dump(2, ' ', true, Json::error_handler_t::replace) << '\n';
  out.close();
  return static_cast<bool>(out);
}

}  // namespace vorn_soak
