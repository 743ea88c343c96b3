#include "tools/hostcheck/line_check.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace vorn_soak {

namespace {

// a,,b is three fields; a,b, is two; an empty line none (as the device protocol counts them).
std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == ',') {
      out.push_back(line.substr(start, i - start));
      start = i + 1;
    }
  }
  if (!line.empty() && line.back() != ',') out.push_back(line.substr(start));
  return out;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out.push_back(line);
    start = end + 1;
  }
  return out;
}

constexpr float kUnreadable = std::numeric_limits<float>::lowest();

// A number as a C-locale stream reads it: blanks skipped, sign, digits or a point, longest prefix.
float Number(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  std::string ascii;
  for (; i < text.size() && ascii.size() < 64 && static_cast<unsigned char>(text[i]) < 0x80; ++i) ascii += text[i];
  std::size_t p = 0;
  if (p < ascii.size() && (ascii[p] == '+' || ascii[p] == '-')) ++p;
  auto digit = [&](std::size_t k) { return k < ascii.size() && ascii[k] >= '0' && ascii[k] <= '9'; };
  if (!(digit(p) || (p < ascii.size() && ascii[p] == '.' && digit(p + 1)))) return kUnreadable;
  const char *first = ascii.data() + (ascii[0] == '+' ? 1 : 0);
  float value = 0;
  const auto r = std::from_chars(first, ascii.data() + ascii.size(), value);
  return r.ec == std::errc{} ? value : kUnreadable;
}

float Bound(std::string_view field, float na) { return field == "na" ? na : Number(field); }

}  // namespace

int ScaleValue(float x, float lo, float hi) {
  if (x < lo) x = lo;
  if (x > hi) x = hi;
  const float range = hi - lo;
  const float t = (x - lo) / range;
  if (range == 0.0f || !std::isfinite(range) || !std::isfinite(t)) return 0;
  return static_cast<int>(std::floor(static_cast<double>(t) * 32767.0 + 0.5));
}

bool ParseDescription(std::string_view describeText, DeviceDescription &out, std::string &error) {
  const std::vector<std::string_view> lines = Lines(describeText);
  if (lines.size() < 7 || lines[0].substr(0, 2) != "V,") {
    error = "expected seven description lines beginning with the version line";
    return false;
  }
  out = DeviceDescription{};
  out.fieldCount = static_cast<int>(std::count(lines[1].begin(), lines[1].end(), ',')) + 1;
  for (std::string_view name : Fields(lines[3])) out.nameCount += name != "CRC";
  for (std::string_view f : Fields(lines[5])) out.maxima.push_back(Bound(f, 32767.0f));
  for (std::string_view f : Fields(lines[6])) out.minima.push_back(Bound(f, -32767.0f));
  if (out.nameCount < 2 || out.maxima.size() < static_cast<std::size_t>(out.nameCount) ||
      out.minima.size() < static_cast<std::size_t>(out.nameCount)) {
    error = "names, maxima and minima lines do not describe the channels";
    return false;
  }
  return true;
}

std::optional<std::string> ExpectedHostLine(std::string_view dataLine, const DeviceDescription &device,
                                            const std::vector<int> &enabled) {
  const std::vector<std::string_view> fields = Fields(dataLine);
  if (static_cast<int>(fields.size()) < device.fieldCount) return std::nullopt;
  std::string out = "@ ";
  const int n = device.nameCount;
  for (int p : enabled) {
    if (p < 1 || p > n - 1) continue;
    const std::string_view field =
        static_cast<std::size_t>(p) < fields.size() ? fields[static_cast<std::size_t>(p)] : "";
    if (field == "*") {
      out += "0,";
      continue;
    }
    const auto at = static_cast<std::size_t>(p);
    out += std::to_string(ScaleValue(Number(field), device.minima[at], device.maxima[at]));
    if (p != n - 1) out += ',';
  }
  out += '\n';
  return out;
}

bool InOrderChecker::Fail(std::string why) {
  failed_ = true;
  result_.ok = false;
  result_.firstBad = delivered_seen_;
  if (!why.empty() && why.back() == '\n') why.pop_back();
  result_.detail = std::move(why);
  return false;
}

std::size_t InOrderChecker::RunStart(std::size_t e) const {
  std::size_t best = e, bestRun = 0;
  for (; e < expected_.size(); ++e) {
    if (expected_[e] != delivered_[next_delivered_]) continue;
    std::size_t run = 1;
    while (next_delivered_ + run < delivered_.size() && e + run < expected_.size() &&
           expected_[e + run] == delivered_[next_delivered_ + run])
      ++run;
    if (next_delivered_ + run == delivered_.size()) return e;
    if (run > bestRun) {
      best = e;
      bestRun = run;
    }
  }
  return best;
}

bool InOrderChecker::Match(bool final) {
  if (failed_) return false;
  result_.ok = true;
  while (next_delivered_ < delivered_.size()) {
    const std::string &line = delivered_[next_delivered_];
    std::size_t e = base_;
    const bool first = delivered_seen_ == 0;
    if (consecutive_ && !first) {
      if (e == expected_.size()) {
        if (!final) break;
      } else if (expected_[e] == line) {
        // the next one, as it must be
      } else {
        std::size_t later = e;
        while (later < expected_.size() && expected_[later] != line) ++later;
        if (later < expected_.size())
          return Fail(std::to_string(later - e) + " expected lines lost before delivered line " +
                      std::to_string(delivered_seen_));
        return Fail("delivered line " + std::to_string(delivered_seen_) +
                    " is not the next expected one (corrupted, reordered or repeated): " + line +
                    "; next expected: " + expected_[e]);
      }
    } else {
      while (e < expected_.size() && expected_[e] != line) ++e;
      // A slow signal repeats its lines: the run's start is where the lines that
      // follow match too, not merely the first equal line.
      if (consecutive_ && first) e = RunStart(e);
    }
    if (e == expected_.size()) {
      if (!final) break;
      std::string why = "delivered line " + std::to_string(delivered_seen_) +
                        " is not among the expected lines after line " + std::to_string(expected_seen_ + base_) +
                        " (corrupted, reordered or repeated): " + line;
      if (why.back() == '\n') why.pop_back();
      if (base_ < expected_.size()) why += "; next expected: " + expected_[base_];
      return Fail(why);
    }
    if (first) {
      result_.before = expected_seen_ + e;
    } else if (e != base_) {
      ++result_.gaps;
      result_.skipped += e - base_;
    }
    base_ = e + 1;
    ++next_delivered_;
    ++delivered_seen_;
    ++result_.matched;
  }
  // Drop what is behind us once it is a good share of the buffers.
  if (base_ > 4096 && base_ * 2 > expected_.size()) {
    expected_.erase(expected_.begin(), expected_.begin() + static_cast<std::ptrdiff_t>(base_));
    expected_seen_ += base_;
    base_ = 0;
  }
  if (next_delivered_ > 4096 && next_delivered_ * 2 > delivered_.size()) {
    delivered_.erase(delivered_.begin(), delivered_.begin() + static_cast<std::ptrdiff_t>(next_delivered_));
    next_delivered_ = 0;
  }
  return true;
}

MatchResult MatchDelivered(const std::vector<std::string> &expected, const std::vector<std::string> &delivered,
                           bool consecutive) {
  InOrderChecker checker(consecutive);
  for (const std::string &e : expected) checker.AddExpected(e);
  for (const std::string &d : delivered) checker.AddDelivered(d);
  checker.Match(true);
  MatchResult r = checker.result();
  r.ok = !r.detail.empty() ? false : true;
  return r;
}

std::vector<std::string> ReadSentLog(const std::string &path, std::size_t &offset) {
  std::vector<std::string> out;
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  std::string text;
  if (std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0) {
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  }
  std::fclose(f);
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      out.emplace_back(text, start, i - start);
      start = i + 1;
    }
  }
  offset += start;
  return out;
}

}  // namespace vorn_soak
