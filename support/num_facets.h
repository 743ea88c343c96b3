// Number punctuation without digit grouping: the host parses the driver's
// numbers back and a group separator would end them early.
#pragma once

#include <cstddef>
#include <locale>
#include <string>

namespace QVX {

template <typename CharT>
class NoThousandsSep : public std::numpunct_byname<CharT> {
 public:
  explicit NoThousandsSep(const char *name, std::size_t refs = 0) : std::numpunct_byname<CharT>(name, refs) {}

 protected:
  std::string do_grouping() const override { return {}; }
};

// For a locale the C++ library cannot make by name: the user's own decimal
// point and thousands separator over a locale it can make.
template <typename CharT>
class CRTBug_UserRadix_NoThousandsSep : public NoThousandsSep<CharT> {
 public:
  CRTBug_UserRadix_NoThousandsSep(const char *name, CharT decimalPoint, CharT thousandsSep, std::size_t refs = 0)
      : NoThousandsSep<CharT>(name, refs), decimalPoint_(decimalPoint), thousandsSep_(thousandsSep) {}

 protected:
  CharT do_decimal_point() const override { return decimalPoint_; }
  CharT do_thousands_sep() const override { return thousandsSep_; }

 private:
  CharT decimalPoint_;
  CharT thousandsSep_;
};

}  // namespace QVX
