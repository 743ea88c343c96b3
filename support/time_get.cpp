#include "support/time_get.h"

#include <cwctype>
#include <sstream>

namespace QVX {

std::locale::id time_get::id;

namespace {

std::locale NamedOrClassic(const char *name) {
  try {
    return std::locale(name);
  } catch (const std::exception &) {
    return std::locale::classic();
  }
}

std::wstring Format(const std::locale &locale, const std::tm &when, const wchar_t *pattern) {
  std::wostringstream out;
  out.imbue(locale);
  const auto &put = std::use_facet<std::time_put<wchar_t>>(locale);
  std::wstring picture(pattern);
  put.put(std::ostreambuf_iterator<wchar_t>(out), out, L' ', &when, picture.data(), picture.data() + picture.size());
  return out.str();
}

}  // namespace

time_get::time_get(const char *name, std::size_t refs) : std::locale::facet(refs), named_(NamedOrClassic(name)) {
  std::tm when{};
  when.tm_year = 100;
  for (int day = 0; day < 7; ++day) {
    when.tm_wday = day;
    dayNames_[day] = Format(named_, when, L"%A");
  }
  for (int month = 0; month < 12; ++month) {
    when.tm_mon = month;
    monthNames_[month] = Format(named_, when, L"%B");
  }
  dateOrder_ = std::use_facet<std::time_get<wchar_t>>(named_).date_order();
}

time_get::~time_get() = default;

time_get::iter_type time_get::GetTime(iter_type from, iter_type end, std::ios_base &stream,
                                      std::ios_base::iostate &state, std::tm *out) const {
  return std::use_facet<std::time_get<wchar_t>>(named_).get_time(from, end, stream, state, out);
}

time_get::iter_type time_get::GetDate(iter_type from, iter_type end, std::ios_base &stream,
                                      std::ios_base::iostate &state, std::tm *out) const {
  return std::use_facet<std::time_get<wchar_t>>(named_).get_date(from, end, stream, state, out);
}

time_get::iter_type time_get::GetYear(iter_type from, iter_type end, std::ios_base &stream,
                                      std::ios_base::iostate &state, std::tm *out) const {
  return std::use_facet<std::time_get<wchar_t>>(named_).get_year(from, end, stream, state, out);
}

// Accepts a whole name or its first three letters, ignoring case.
time_get::iter_type time_get::MatchName(iter_type from, iter_type end, const std::wstring *names, int count,
                                        std::ios_base::iostate &state, int &index) const {
  std::wstring word;
  while (from != end && std::iswalpha(static_cast<std::wint_t>(*from))) word.push_back(*from++);
  auto lower = [](std::wstring text) {
    for (wchar_t &c : text) c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
    return text;
  };
  std::wstring wanted = lower(word);
  for (int i = 0; i < count; ++i) {
    std::wstring name = lower(names[i]);
    if (!wanted.empty() && (wanted == name || (wanted.size() == 3 && name.compare(0, 3, wanted) == 0))) {
      index = i;
      if (from == end) state |= std::ios_base::eofbit;
      return from;
    }
  }
  state |= std::ios_base::failbit;
  return from;
}

time_get::iter_type time_get::GetWeekday(iter_type from, iter_type end, std::ios_base &, std::ios_base::iostate &state,
                                         std::tm *out) const {
  int index = 0;
  from = MatchName(from, end, dayNames_, 7, state, index);
  if (!(state & std::ios_base::failbit) && out) out->tm_wday = index;
  return from;
}

time_get::iter_type time_get::GetMonthName(iter_type from, iter_type end, std::ios_base &,
                                           std::ios_base::iostate &state, std::tm *out) const {
  int index = 0;
  from = MatchName(from, end, monthNames_, 12, state, index);
  if (!(state & std::ios_base::failbit) && out) out->tm_mon = index;
  return from;
}

}  // namespace QVX
