#include "tools/vornctl/recording_name.h"

#include <cctype>
#include <ctime>
#include <filesystem>

#include "tools/vornctl/output_file.h"

namespace vornctl {

namespace {

namespace fs = std::filesystem;

// Past this many taken names something else is wrong; the last one is tried
// and its creation says what.
constexpr int kMaxNumber = 100000;

bool Taken(const fs::path &p) {
  return InspectPath(p.string()).kind != PathKind::Missing ||
         InspectPath(PartialPath(p.string())).kind != PathKind::Missing;
}

std::string FileSafe(const std::string &text) {
  std::string out;
  for (char c : text) out += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
  return out.empty() ? "device" : out;
}

}  // namespace

std::string FreshRecordingPath(const std::string &folder, const std::string &serial, const std::string &extension) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string base = "vorn-" + FileSafe(serial) + "-" + stamp;
  fs::path path = fs::path(folder) / (base + "." + extension);
  for (int n = 2; Taken(path) && n < kMaxNumber; ++n) {
    path = fs::path(folder) / (base + "-" + std::to_string(n) + "." + extension);
  }
  return path.string();
}

std::string NextPartPath(const std::string &path, int &part) {
  const fs::path p(path);
  fs::path candidate;
  for (;; ++part) {
    candidate = p.parent_path() / (p.stem().string() + "-" + std::to_string(part) + p.extension().string());
    if (!Taken(candidate) || part >= kMaxNumber) return candidate.string();
  }
}

}  // namespace vornctl
