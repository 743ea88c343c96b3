#include "tools/vornctl/output_check.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "tools/vornctl/csv_writer.h"
#include "tools/vornctl/edf_writer.h"
#include "tools/vornctl/svg_plot.h"

namespace vornctl {

namespace fs = std::filesystem;

namespace {

std::string LowerExtension(const std::string &path) {
  std::string ext = fs::path(path).extension().string();
  for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

// The same file however it is spelled ("./a.csv", "a.csv", "dir/../a.csv").
std::string Identity(const std::string &path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec);
  if (ec) return path;
  const fs::path canonical = fs::weakly_canonical(absolute, ec);
  return (ec ? absolute.lexically_normal() : canonical).string();
}

// Opening for append creates nothing that was not there only if it fails;
// a probe file that did not exist before is removed again.
bool Writable(const std::string &path, std::string &error) {
  std::error_code ec;
  const fs::path file(path);
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  if (!fs::is_directory(folder, ec)) {
    error = "cannot write " + path + ": the folder " + folder.string() + " does not exist";
    return false;
  }
  if (fs::is_directory(file, ec)) {
    error = "cannot write " + path + ": it is a folder";
    return false;
  }
  const bool existed = fs::exists(file, ec);
  std::FILE *probe = std::fopen(path.c_str(), "ab");
  if (!probe) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  std::fclose(probe);
  if (!existed) fs::remove(file, ec);
  return true;
}

}  // namespace

bool CheckOutputs(const std::vector<std::string> &outputs, const std::string &plot, std::vector<OutputFile> &checked,
                  std::string &error) {
  checked.clear();
  bool toStdout = false;
  for (const std::string &path : outputs) {
    if (path == "-") {
      if (toStdout) {
        error = "--out - given twice: stdout can take one CSV";
        return false;
      }
      toStdout = true;
      checked.push_back({path, OutputKind::Csv});
      continue;
    }
    const std::string ext = LowerExtension(path);
    if (ext == ".csv") {
      checked.push_back({path, OutputKind::Csv});
    } else if (ext == ".edf") {
      if (!EdfAvailable()) {
        error = "cannot write " + path + ": this vornctl was built without EDF+ support (EDFlib); write CSV instead";
        return false;
      }
      checked.push_back({path, OutputKind::Edf});
    } else {
      error = "--out " + path + ": the name must end in .csv or .edf (or be - for CSV on stdout)";
      return false;
    }
  }
  if (!plot.empty()) checked.push_back({plot, OutputKind::Svg});
  for (std::size_t i = 0; i < checked.size(); ++i) {
    if (checked[i].path == "-") continue;
    for (std::size_t j = 0; j < i; ++j) {
      if (checked[j].path != "-" && Identity(checked[j].path) == Identity(checked[i].path)) {
        error = checked[i].path + " is named twice (" + checked[j].path + "); each output needs a file of its own";
        return false;
      }
    }
  }
  if (!plot.empty() && (plot == "-" || LowerExtension(plot) != ".svg")) {
    error = "--plot " + plot + ": the plot is an SVG file, so its name must end in .svg";
    return false;
  }
  for (const OutputFile &f : checked) {
    if (f.path != "-" && !Writable(f.path, error)) return false;
  }
  return true;
}

std::unique_ptr<SampleSink> MakeOutputWriter(const OutputFile &file) {
  switch (file.kind) {
    case OutputKind::Edf: return MakeEdfWriter(file.path);
    case OutputKind::Svg: return std::make_unique<SvgPlot>(file.path);
    case OutputKind::Csv: break;
  }
  return std::make_unique<CsvWriter>(file.path);
}

std::string PathForDevice(const std::string &path, const std::string &serial) {
  if (path == "-") return path;
  const fs::path p(path);
  std::string tag;
  for (char c : serial) tag += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ? c : '_';
  fs::path renamed = p.parent_path() / (p.stem().string() + "-" + tag + p.extension().string());
  return renamed.string();
}

}  // namespace vornctl
