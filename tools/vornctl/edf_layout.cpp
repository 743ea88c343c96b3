// The EDF+ format's rules: record layout, header fields, annotations.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "tools/vornctl/csv_writer.h"
#include "tools/vornctl/edf_writer.h"

namespace vornctl {

namespace {

// Decodes UTF-8 (the device's Latin-1 bytes made UTF-8 first) one code point at a time.
std::vector<char32_t> CodePoints(std::string_view text) {
  const std::string utf8 = TextAsUtf8(text);
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    const std::size_t extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    for (std::size_t k = 1; k <= extra && i + k < utf8.size(); ++k) {
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    out.push_back(cp);
    i += extra + 1;
  }
  return out;
}

std::string Padded(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

std::string Decimal(std::int64_t us) {
  std::string text = std::to_string(us / 1000000);
  const std::int64_t fraction = us % 1000000;
  if (fraction == 0) return text;
  char digits[8];
  std::snprintf(digits, sizeof digits, "%06lld", static_cast<long long>(fraction));
  std::string tail = digits;
  tail.erase(tail.find_last_not_of('0') + 1);
  return text + "." + tail;
}

}  // namespace

bool IsEdfPath(std::string_view path) {
  if (path.size() < 4) return false;
  std::string tail(path.substr(path.size() - 4));
  for (char &c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".edf";
}

bool ChooseEdfRecordLayout(std::int64_t periodUs, EdfRecordLayout &layout, std::string &error) {
  // Records of 1 ms to 60 s.
  if (periodUs <= 0 || periodUs > 60000000) {
    error = "EDF+ cannot hold a sample period of " + std::to_string(periodUs) + " us";
    return false;
  }
  std::int64_t n = std::max<std::int64_t>(1, 1000000 / periodUs);
  while (n * periodUs < 1000) ++n;
  // The record duration must be a whole number of 10 us.
  const std::int64_t step = 10 / std::gcd<std::int64_t>(periodUs, 10);
  n = (n + step - 1) / step * step;
  if (n * periodUs > 60000000) n -= step;
  if (n <= 0 || (n * periodUs) % 10 != 0) {
    error = "EDF+ cannot hold a sample period of " + std::to_string(periodUs) + " us";
    return false;
  }
  layout.samplesPerRecord = n;
  layout.recordUs = n * periodUs;
  return true;
}

std::string EdfText(std::string_view text, std::size_t width) {
  std::string out;
  for (char32_t cp : CodePoints(text)) {
    if (cp >= 0x20 && cp < 0x7F) {
      out += static_cast<char>(cp);
    } else if (cp == 0xB5 || cp == 0x3BC) {
      out += 'u';  // micro, as EDF readers expect "uV"
    } else if (cp == 0xB0) {
      out += "deg";
    } else {
      out += '_';
    }
  }
  if (out.size() > width) out.resize(width);
  return out;
}

std::string EdfSubfield(std::string_view text, std::size_t width) {
  std::string out = EdfText(text, width);
  std::replace(out.begin(), out.end(), ' ', '_');
  return out.empty() ? "X" : out;
}

std::optional<std::string> EdfNumber(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  for (int decimals = 7; decimals >= 0; --decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string s = text;
    if (s.find('.') != std::string::npos) {
      s.erase(s.find_last_not_of('0') + 1);
      if (s.back() == '.') s.pop_back();
    }
    if (s == "-0") s = "0";
    if (s.size() <= 8) return s;
  }
  return std::nullopt;
}

std::string EdfAnnotation(std::int64_t onsetUs, std::optional<std::int64_t> durationUs, std::string_view text) {
  std::string tal = "+" + Decimal(std::max<std::int64_t>(0, onsetUs));
  if (durationUs) tal += "\x15" + Decimal(std::max<std::int64_t>(0, *durationUs));
  tal += '\x14';
  // The separators may not appear in the text itself.
  for (char c : text) tal += (c == '\x14' || c == '\x15' || c == '\0') ? ' ' : c;
  tal += '\x14';
  tal += '\0';
  return tal;
}

std::string EdfHeader(const EdfHeaderFields &fields, std::int64_t records, std::string &error) {
  static const char *const kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                        "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  const std::tm &t = fields.start;
  const int year = t.tm_year + 1900;
  if (year < 1985 || year > 2084 || t.tm_mon < 0 || t.tm_mon > 11) {
    error = "EDF+ holds start dates from 1985 to 2084, not " + std::to_string(year);
    return {};
  }
  char date[48];
  char time[48];
  char startdate[64];
  std::snprintf(date, sizeof date, "%02d.%02d.%02d", t.tm_mday, t.tm_mon + 1, year % 100);
  std::snprintf(time, sizeof time, "%02d.%02d.%02d", t.tm_hour, t.tm_min, std::min(t.tm_sec, 59));
  std::snprintf(startdate, sizeof startdate, "Startdate %02d-%s-%04d ", t.tm_mday, kMonths[t.tm_mon], year);
  const std::size_t ns = fields.signals.size();
  const auto duration = EdfNumber(static_cast<double>(fields.recordUs) / 1e6);
  if (!duration || ns == 0 || ns > 9999) {
    error = "EDF+ cannot hold this layout";
    return {};
  }
  std::string h;
  h += Padded("0", 8);
  h += Padded(fields.patient.substr(0, 80), 80);
  h += Padded((startdate + fields.recording).substr(0, 80), 80);
  h += date;
  h += time;
  h += Padded(std::to_string((ns + 1) * 256), 8);
  h += Padded("EDF+C", 44);
  h += Padded(std::to_string(records), kEdfRecordCountWidth);
  h += Padded(*duration, 8);
  h += Padded(std::to_string(ns), 4);
  auto each = [&](std::size_t width, auto field) {
    for (const EdfSignal &s : fields.signals) h += Padded(field(s), width);
  };
  std::string bad;
  auto number = [&](double v) {
    const auto text = EdfNumber(v);
    if (!text) bad = "the number " + std::to_string(v) + " does not fit an EDF+ header field";
    return text.value_or("0");
  };
  each(16, [](const EdfSignal &s) { return EdfText(s.label, 16); });
  each(80, [](const EdfSignal &) { return std::string(); });
  each(8, [](const EdfSignal &s) { return EdfText(s.unit, 8); });
  each(8, [&](const EdfSignal &s) { return number(s.physicalMinimum); });
  each(8, [&](const EdfSignal &s) { return number(s.physicalMaximum); });
  each(8, [](const EdfSignal &s) { return std::to_string(s.digitalMinimum); });
  each(8, [](const EdfSignal &s) { return std::to_string(s.digitalMaximum); });
  each(80, [](const EdfSignal &) { return std::string(); });
  each(8, [](const EdfSignal &s) { return std::to_string(s.samplesPerRecord); });
  each(32, [](const EdfSignal &) { return std::string(); });
  if (!bad.empty()) {
    error = bad;
    return {};
  }
  return h;
}

}  // namespace vornctl
