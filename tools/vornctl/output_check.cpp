#include "tools/vornctl/output_check.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "tools/vornctl/csv_writer.h"
#include "tools/vornctl/edf_writer.h"
#include "tools/vornctl/output_file.h"
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

const char *KindName(PathKind kind) {
  switch (kind) {
    case PathKind::Fifo: return "a FIFO (named pipe)";
    case PathKind::Device: return "a device";
    case PathKind::Socket: return "a socket";
    case PathKind::Folder: return "a folder";
    default: return "not a regular file";
  }
}

std::string LinkTarget(const std::string &path) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(path, ec);
  return ec ? std::string("?") : target.string();
}

bool CheckFolder(const std::string &path, std::string &error) {
  const fs::path file(path);
  const std::string folder = file.has_parent_path() ? file.parent_path().string() : std::string(".");
  std::error_code ec;
  const fs::file_status status = fs::status(folder, ec);
  if (status.type() == fs::file_type::not_found) {
    error = "cannot write " + PathForMessage(path) + ": the folder " + PathForMessage(folder) + " does not exist";
    return false;
  }
  if (ec && status.type() == fs::file_type::none) {
    error = "cannot write " + PathForMessage(path) + ": " + InspectPath(folder).problem;
    return false;
  }
  if (status.type() != fs::file_type::directory) {
    error = "cannot write " + PathForMessage(path) + ": " + PathForMessage(folder) + " is not a folder";
    return false;
  }
  std::string why;
  if (!FolderAcceptsFiles(folder, why)) {
    error = "cannot write " + PathForMessage(path) + " in the folder " + PathForMessage(folder) + ": " + why;
    return false;
  }
  return true;
}

}  // namespace

bool CheckOutputPath(const std::string &path, bool force, std::string &error) {
  const PathInfo info = InspectPath(path);
  switch (info.kind) {
    case PathKind::Missing: break;
    case PathKind::Regular:
      if (!force) {
        error = PathForMessage(path) +
                " exists; vornctl never replaces a file: give another name, or --force to replace it";
        return false;
      }
      break;
    case PathKind::Link:
      if (!force) {
        error = PathForMessage(path) + " is a symbolic link (to " + PathForMessage(LinkTarget(path)) +
                "); vornctl does not write through links: give the file's own name, or --force to replace the "
                "link itself";
        return false;
      }
      break;
    case PathKind::Folder: error = "cannot write " + PathForMessage(path) + ": it is a folder"; return false;
    case PathKind::Fifo:
    case PathKind::Device:
    case PathKind::Socket:
    case PathKind::Other:
      error = "cannot write " + PathForMessage(path) + ": it is " + KindName(info.kind) +
              "; vornctl writes regular files only (for a stream use --out - and a pipe)";
      return false;
    case PathKind::Unknown: error = "cannot write " + PathForMessage(path) + ": " + info.problem; return false;
  }
  const std::string partial = PartialPath(path);
  const PathInfo left = InspectPath(partial);
  if (left.kind == PathKind::Unknown) {
    // The name fits, the temporary one does not.
    error = "cannot write " + PathForMessage(path) + ": " + left.problem + " (with " + kPartialMark +
            " added, its temporary name while recording)";
    return false;
  }
  if (left.kind == PathKind::Folder) {
    error = "cannot write " + PathForMessage(path) + ": " + PathForMessage(partial) + " is a folder";
    return false;
  }
  if (left.kind != PathKind::Missing && !force) {
    error = PathForMessage(partial) + " is there: a recording of " + PathForMessage(path) +
            " that was cut short (vornctl was killed, or the machine stopped) holds what it had, or another "
            "vornctl is writing it now. Keep it under another name (or delete it), or give --force to replace it";
    return false;
  }
  return CheckFolder(path, error);
}

bool CheckOutputs(const std::vector<std::string> &outputs, const std::string &plot, bool force,
                  std::vector<OutputTarget> &checked, std::string &error) {
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
      checked.push_back({path, OutputKind::Edf});
    } else {
      error = "--out " + PathForMessage(path) + ": the name must end in .csv or .edf (or be - for CSV on stdout)";
      return false;
    }
  }
  if (!plot.empty()) checked.push_back({plot, OutputKind::Svg});
  for (std::size_t i = 0; i < checked.size(); ++i) {
    if (checked[i].path == "-") continue;
    for (std::size_t j = 0; j < i; ++j) {
      if (checked[j].path != "-" && Identity(checked[j].path) == Identity(checked[i].path)) {
        error = PathForMessage(checked[i].path) + " is named twice (" + PathForMessage(checked[j].path) +
                "); each output needs a file of its own";
        return false;
      }
    }
  }
  if (!plot.empty() && (plot == "-" || LowerExtension(plot) != ".svg")) {
    error = "--plot " + PathForMessage(plot) + ": the plot is an SVG file, so its name must end in .svg";
    return false;
  }
  for (const OutputTarget &f : checked) {
    if (f.path != "-" && !CheckOutputPath(f.path, force, error)) return false;
  }
  return true;
}

std::unique_ptr<SampleSink> MakeOutputWriter(const OutputTarget &file, bool replace) {
  switch (file.kind) {
    case OutputKind::Edf: return MakeEdfWriter(file.path, replace);
    case OutputKind::Svg: return std::make_unique<SvgPlot>(file.path, replace);
    case OutputKind::Csv: break;
  }
  return std::make_unique<CsvWriter>(file.path, replace);
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
