// The date-and-time reading facet installed with the stream locale. It has an
// identity of its own (the library's std::time_get stays as it is); nothing in
// the driver reads dates, so its reading is the C++ library's, with the named
// locale's day and month names.
#pragma once

#include <ctime>
#include <iterator>
#include <locale>
#include <string>

namespace QVX {

class time_get : public std::locale::facet {
 public:
  using iter_type = std::istreambuf_iterator<wchar_t>;
  static std::locale::id id;

  // A name the C++ library cannot make falls back to the classic locale's names.
  explicit time_get(const char *name, std::size_t refs = 0);
  ~time_get() override;

  virtual std::time_base::dateorder DateOrder() const { return dateOrder_; }
  virtual iter_type GetTime(iter_type from, iter_type end, std::ios_base &stream, std::ios_base::iostate &state,
                            std::tm *out) const;
  virtual iter_type GetDate(iter_type from, iter_type end, std::ios_base &stream, std::ios_base::iostate &state,
                            std::tm *out) const;
  virtual iter_type GetWeekday(iter_type from, iter_type end, std::ios_base &stream, std::ios_base::iostate &state,
                               std::tm *out) const;
  virtual iter_type GetMonthName(iter_type from, iter_type end, std::ios_base &stream, std::ios_base::iostate &state,
                                 std::tm *out) const;
  virtual iter_type GetYear(iter_type from, iter_type end, std::ios_base &stream, std::ios_base::iostate &state,
                            std::tm *out) const;

  const std::wstring &DayName(int day) const { return dayNames_[day % 7]; }
  const std::wstring &MonthName(int month) const { return monthNames_[month % 12]; }

 private:
  iter_type MatchName(iter_type from, iter_type end, const std::wstring *names, int count,
                      std::ios_base::iostate &state, int &index) const;

  std::locale named_;
  std::wstring dayNames_[7];
  std::wstring monthNames_[12];
  std::time_base::dateorder dateOrder_ = std::time_base::no_order;
};

class time_getEx : public time_get {
 public:
  using time_get::time_get;
};

}  // namespace QVX
