// The process's own LocaleInfo, made from the user's real settings; the
// suite runs with a comma-decimal user locale (de_DE) in its environment.
#include "support/locale_info.h"

#include <gtest/gtest.h>

#include <clocale>
#include <sstream>

#include "support/host_code_page.h"
#include "support/string_stream.h"

namespace vorn_test {
namespace {

TEST(ProcessLocale, CommaLocaleSetsRadixWithoutGroupingForLaterStreams) {
  if (!std::setlocale(LC_ALL, "")) GTEST_SKIP() << "the de_DE locale is not installed";
  std::setlocale(LC_ALL, "C");

  const QVX::LocaleInfo &info = QVX::LocaleInfo::Get();
  EXPECT_EQ(&info, &QVX::LocaleInfo::Get());
  EXPECT_EQ(std::u16string(info.decimalSeparator), u",");
  EXPECT_EQ(std::u16string(info.thousandsSeparator), u".");
  EXPECT_TRUE(info.localeInstalled);
  EXPECT_TRUE(info.clock24);
  EXPECT_NE(info.codePage, 0);
  EXPECT_EQ(QVX::HostCodePage(), info.codePage);

  std::wostringstream wide;
  wide << std::fixed;
  wide.precision(1);
  wide << 1234567.5;
  EXPECT_EQ(wide.str(), L"1234567,5");

  QVX::OStringStream text;
  text << 1234567 << L' ' << 0.5;
  EXPECT_EQ(text.str(), u"1234567 0,5");
}

}  // namespace
}  // namespace vorn_test
