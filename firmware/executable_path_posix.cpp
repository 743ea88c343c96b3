#include <limits.h>
#include <unistd.h>

#include <string>

#include "firmware/executable_path.h"
#include "support/code_page.h"

namespace OpenPlotr {

bool HostExecutablePath(std::u16string &out) {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return false;
  out = QVX::AnsiToWide(std::string_view(buffer, static_cast<std::size_t>(n)));
  return !out.empty();
}

std::size_t MaxHostPath() { return PATH_MAX; }

bool IsPathSeparator(char16_t c) { return c == u'/'; }

}  // namespace OpenPlotr
namespace OpenPlotr {
char16_t PreferredSeparator() { return u'/'; }
}  // namespace OpenPlotr

#include <cstdio>

namespace OpenPlotr {

FILE *OpenForReading(const std::u16string &path) {
  const std::string narrow = QVX::WideToAnsi(path);
  return narrow.empty() ? nullptr : std::fopen(narrow.c_str(), "rb");
}

}  // namespace OpenPlotr
