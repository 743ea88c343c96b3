#include "support/format_stream.h"

#include <gtest/gtest.h>

#include <string>

namespace vorn_test {
namespace {

using QVX::OFormatStringStream;

TEST(FormatStreamGrammar, PlaceholdersTakeArgumentsByNumber) {
  OFormatStringStream format(QVXString(u"%2 of %1"));
  EXPECT_EQ(format.awaited(), 2);
  format << L"A" << L"B";
  EXPECT_EQ(format.str(), u"B of A");

  OFormatStringStream numbers(QVXString(u"port %1, speed %2 baud"));
  numbers << 3 << 115200;
  EXPECT_EQ(numbers.str(), u"port 3, speed 115200 baud");
}

TEST(FormatStreamGrammar, DoubledPercentAndBackslashEndThePlaceholder) {
  OFormatStringStream format(QVXString(u"%%%1\\ done"));
  format << L"50";
  EXPECT_EQ(format.str(), u"%50 done");

  OFormatStringStream digits(QVXString(u"%1\\2"));
  digits << L"x";
  EXPECT_EQ(digits.str(), u"x2");

  OFormatStringStream trailing(QVXString(u"end %1\\"));
  trailing << L"z";
  EXPECT_EQ(trailing.str(), u"end z");
}

TEST(FormatStreamGrammar, FormatWithoutPlaceholdersIsReturnedAtOnce) {
  OFormatStringStream format(QVXString(u"100%% plain"));
  EXPECT_EQ(format.awaited(), 0);
  EXPECT_EQ(format.str(), u"100%% plain");
  format << L"ignored";
  EXPECT_EQ(format.str(), u"100%% plain");
}

TEST(FormatStreamGrammar, RepeatedNumberIsFilledAtItsLastOccurrence) {
  OFormatStringStream format(QVXString(u"[%1] and [%1]"));
  EXPECT_EQ(format.awaited(), 1);
  format << L"A";
  EXPECT_EQ(format.str(), u"[] and [A]");
}

TEST(FormatStreamGrammar, PercentWithZeroOrNoNumberIsText) {
  OFormatStringStream format(QVXString(u"%0 %x %-3 %1 %"));
  EXPECT_EQ(format.awaited(), 1);
  format << L"B";
  EXPECT_EQ(format.str(), u"%0 %x %-3 B %");
}

TEST(FormatStreamGrammar, NumbersAboveTwentyStayTextButAreAwaited) {
  OFormatStringStream format(QVXString(u"%21 %1"));
  EXPECT_EQ(format.awaited(), 21);
  for (int i = 1; i <= 20; ++i) format << i;
  EXPECT_EQ(format.str(), u"");
  format << L"last";
  EXPECT_EQ(format.str(), u"%21 1");

  OFormatStringStream huge(QVXString(u"%99999999999999 ok"));
  EXPECT_GT(huge.awaited(), 20);
}

TEST(FormatStreamGrammar, MoreThanTwentyPlaceholdersKeepTheRestAsText) {
  std::u16string text;
  for (int i = 0; i < 25; ++i) text += u"%1";
  OFormatStringStream format{QVXString(std::u16string_view(text))};
  format << L"a";
  // Placeholders 1-20 are recorded (only the last gets the argument); 21-25 stay text.
  EXPECT_EQ(format.str(), u"a%1%1%1%1%1");
}

TEST(FormatStreamBuffer, ArgumentsBeyondTheBufferAreCutNotOverrun) {
  OFormatStringStream format(QVXString(u"<%1|%2|%3>"));
  std::wstring big(1000, L'x');
  format << big << std::wstring(100, L'y') << L"z";
  std::u16string expected = u"<" + std::u16string(1000, u'x') + u"|" + std::u16string(24, u'y') + u"|>";
  EXPECT_EQ(format.str(), expected);
}

TEST(FormatStreamBuffer, ManipulatorsAreNoArguments) {
  OFormatStringStream format(QVXString(u"0x%1"));
  format << std::hex << 255;
  EXPECT_EQ(format.str(), u"0xff");
}

}  // namespace
}  // namespace vorn_test
