#include "tools/vornctl/library_path.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "tools/hostlib/vorn_library.h"

namespace vornctl {

namespace {

namespace fs = std::filesystem;

// The program's own folder: argv[0] is only a name when vornctl was found on PATH.
fs::path ProgramFolder(const char *argv0) {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) self = fs::weakly_canonical(argv0, ec);
  return self.parent_path();
}

}  // namespace

std::string FindLibrary(const std::string &fromOption, const char *argv0) {
  if (!fromOption.empty()) return fromOption;
  if (const char *env = std::getenv("VORN_LIBRARY"); env && *env) return env;
  const fs::path folder = ProgramFolder(argv0);
  std::vector<fs::path> candidates = {folder / ".." / "lib" / vorn_host::LibraryFileName()};
#ifdef VORN_INSTALL_LIBRARY
  // An installed vornctl finds the library its package installed, which has no
  // unversioned name without the development files.
  candidates.push_back(folder / ".." / VORN_INSTALL_LIBRARY);
#endif
  candidates.push_back(folder / vorn_host::LibraryFileName());
  candidates.push_back(VORN_BUILD_TREE_LIBRARY);
  std::error_code ec;
  for (const auto &candidate : candidates) {
    if (fs::exists(candidate, ec)) return candidate.string();
  }
  // The system loader's own search: the library path on Linux, the program's
  // folder first on Windows.
  return VORN_LIBRARY_LOADER_NAME;
}

}  // namespace vornctl
