#include "tools/vornctl/output_file.h"

namespace vornctl {

std::string PartialPath(const std::string &path) {
  // Before the extension, so readers that go by it still open a recording cut short.
  const std::size_t slash = path.find_last_of("/\\");
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1) {
    return path + kPartialMark;
  }
  return path.substr(0, dot) + kPartialMark + path.substr(dot);
}

std::string PathForMessage(const std::string &path) {
  // Only paths no one would read whole: a shortened one must still be recognised.
  constexpr std::size_t kHead = 120;
  constexpr std::size_t kTail = 80;
  if (path.size() <= kHead + kTail + 40) return path;
  return path.substr(0, kHead) + "...(" + std::to_string(path.size() - kHead - kTail) + " characters)..." +
         path.substr(path.size() - kTail);
}

}  // namespace vornctl
