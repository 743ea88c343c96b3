#include "support/time_get.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/stream_locale.h"

namespace vorn_test {
namespace {

std::tm ReadName(const QVX::time_get &facet, const wchar_t *text, bool month, std::ios_base::iostate &state) {
  std::wistringstream in(text);
  std::tm when{};
  when.tm_mon = when.tm_wday = -1;
  state = std::ios_base::goodbit;
  QVX::time_get::iter_type from(in), end;
  if (month) facet.GetMonthName(from, end, in, state, &when);
  else facet.GetWeekday(from, end, in, state, &when);
  return when;
}

TEST(TimeGetFacet, InstalledBesideTheLibrarysOwnWithTheLocalesNames) {
  QVX::StreamLocale made = QVX::MakeStreamLocale("C", L'.', L',');
  ASSERT_TRUE(std::has_facet<QVX::time_get>(made.locale));
  EXPECT_TRUE(std::has_facet<std::time_get<wchar_t>>(made.locale));
  const auto &facet = std::use_facet<QVX::time_get>(made.locale);
  EXPECT_EQ(facet.DayName(0), L"Sunday");
  EXPECT_EQ(facet.MonthName(11), L"December");

  std::ios_base::iostate state;
  EXPECT_EQ(ReadName(facet, L"March", true, state).tm_mon, 2);
  EXPECT_FALSE(state & std::ios_base::failbit);
  EXPECT_EQ(ReadName(facet, L"mar", true, state).tm_mon, 2);
  EXPECT_EQ(ReadName(facet, L"Friday", false, state).tm_wday, 5);
  EXPECT_EQ(ReadName(facet, L"Fridays", false, state).tm_wday, -1);
  EXPECT_TRUE(state & std::ios_base::failbit);
}

TEST(TimeGetFacet, UnknownLocaleNameFallsBackToClassicNames) {
  QVX::time_getEx facet("no_SUCH.locale", 1);
  EXPECT_EQ(facet.DayName(1), L"Monday");
  EXPECT_EQ(facet.DateOrder(), std::use_facet<std::time_get<wchar_t>>(std::locale::classic()).date_order());
}

}  // namespace
}  // namespace vorn_test
