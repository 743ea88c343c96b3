#include "tools/vornctl/period_choices.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace vornctl {

namespace {

int TrailingZeros(std::int64_t v) {
  if (v == 0) return 0;
  int n = 0;
  while (v % 10 == 0) {
    v /= 10;
    ++n;
  }
  return n;
}

bool ReadDouble(std::string_view text, double &out) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(out);
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}  // namespace

std::optional<std::vector<std::int32_t>> ParsePeriodList(std::string_view text) {
  std::vector<std::int32_t> values;
  if (text.empty()) return values;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = text.find(',', start);
    const std::string_view item = text.substr(start, comma == std::string_view::npos ? text.npos : comma - start);
    std::int32_t v = 0;
    const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), v);
    if (item.empty() || ec != std::errc() || end != item.data() + item.size()) return std::nullopt;
    values.push_back(v);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return values;
}

std::int64_t NominalPeriodUs(std::int32_t listedUs) {
  const std::int64_t listed = listedUs;
  if (listed <= 0) return listed;
  return TrailingZeros(listed + 1) > TrailingZeros(listed) ? listed + 1 : listed;
}

std::optional<double> ParsePeriodArgument(std::string_view text) {
  double scale = 1000.0;
  if (EndsWith(text, "us")) {
    scale = 1.0;
    text.remove_suffix(2);
  } else if (EndsWith(text, "ms")) {
    text.remove_suffix(2);
  } else if (EndsWith(text, "s")) {
    scale = 1e6;
    text.remove_suffix(1);
  }
  double value = 0;
  if (!ReadDouble(text, value) || value <= 0) return std::nullopt;
  return value * scale;
}

std::optional<std::size_t> MatchPeriod(std::string_view request, const std::vector<std::int32_t> &listed) {
  if (listed.empty()) return std::nullopt;
  std::size_t best = 0;
  if (request == "fastest" || request == "slowest") {
    for (std::size_t i = 1; i < listed.size(); ++i) {
      const bool better = request == "fastest" ? listed[i] < listed[best] : listed[i] > listed[best];
      if (better) best = i;
    }
    return best;
  }
  const std::optional<double> us = ParsePeriodArgument(request);
  if (!us) return std::nullopt;
  for (std::size_t i = 0; i < listed.size(); ++i) {
    if (std::fabs(static_cast<double>(NominalPeriodUs(listed[i])) - *us) < 0.5) return i;
  }
  return std::nullopt;
}

std::string FormatPeriod(std::int64_t us) {
  char text[64];
  if (us < 1000) {
    std::snprintf(text, sizeof text, "%lld us", static_cast<long long>(us));
  } else if (us < 1000000) {
    std::snprintf(text, sizeof text, "%g ms", static_cast<double>(us) / 1000.0);
  } else {
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(us) / 1e6);
  }
  return text;
}

}  // namespace vornctl
