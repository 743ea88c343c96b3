#include "tools/vornctl/host_line.h"

#include <charconv>

namespace vornctl {

bool ParseHostLine(std::string_view line, std::size_t expected, std::vector<std::int32_t> &values) {
  values.clear();
  if (line.substr(0, 2) != "@ ") return false;
  std::string_view rest = line.substr(2);
  while (!rest.empty() && values.size() < expected) {
    const char *first = rest.data();
    const char *last = rest.data() + rest.size();
    // from_chars takes a leading minus but no plus and no white space, as the driver writes.
    if (*first != '-' && (*first < '0' || *first > '9')) return false;
    std::int32_t v = 0;
    const auto [end, ec] = std::from_chars(first, last, v);
    if (ec != std::errc()) return false;
    values.push_back(v);
    rest.remove_prefix(static_cast<std::size_t>(end - first));
    if (rest.empty()) break;
    if (rest.front() != ',') return false;
    rest.remove_prefix(1);
  }
  return values.size() == expected && rest.empty();
}

}  // namespace vornctl
