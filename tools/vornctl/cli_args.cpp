#include "tools/vornctl/cli_args.h"

#include <charconv>
#include <cmath>

namespace vornctl {

std::optional<int> ParseIndex(const std::string &text) {
  int v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < 0) return std::nullopt;
  return v;
}

std::optional<double> ParseSeconds(const std::string &text) {
  double v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v) || v < 0) {
    return std::nullopt;
  }
  return v;
}

}  // namespace vornctl
