#include "tools/vornctl/library_path.h"

#include <cstdlib>
#include <filesystem>

#include "tools/hostlib/vorn_library.h"

namespace vornctl {

std::string FindLibrary(const std::string &fromOption, const char *argv0) {
  if (!fromOption.empty()) return fromOption;
  if (const char *env = std::getenv("VORN_LIBRARY"); env && *env) return env;
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::weakly_canonical(argv0, ec);
  for (const auto &candidate : {self.parent_path() / ".." / "lib" / vorn_host::LibraryFileName(),
                                self.parent_path() / vorn_host::LibraryFileName()}) {
    if (std::filesystem::exists(candidate, ec)) return candidate.string();
  }
  return VORN_BUILD_TREE_LIBRARY;
}

}  // namespace vornctl
