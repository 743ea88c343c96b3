#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

#include "support/fields.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {

TEST(SplitFields, KeepsEmptyFieldsButNoneAfterATrailingComma) {
  EXPECT_EQ(SplitFields(u"a,,b"), (std::vector<std::u16string>{u"a", u"", u"b"}));
  EXPECT_EQ(SplitFields(u",a"), (std::vector<std::u16string>{u"", u"a"}));
  EXPECT_EQ(SplitFields(u"a,b,"), (std::vector<std::u16string>{u"a", u"b"}));
  EXPECT_EQ(SplitFields(u""), std::vector<std::u16string>{});
  EXPECT_EQ(SplitFields(u","), (std::vector<std::u16string>{u""}));
  EXPECT_EQ(SplitFields(u" a , b"), (std::vector<std::u16string>{u" a ", u" b"}));
}

TEST(ReadNumber, ReadsTheLongestNumericPrefixLikeAClassicStream) {
  EXPECT_FLOAT_EQ(ReadNumber(u"12.5abc"), 12.5f);
  EXPECT_FLOAT_EQ(ReadNumber(u"  -3.25"), -3.25f);
  EXPECT_FLOAT_EQ(ReadNumber(u"+7"), 7.0f);
  EXPECT_FLOAT_EQ(ReadNumber(u".5"), 0.5f);
  EXPECT_FLOAT_EQ(ReadNumber(u"1e3"), 1000.0f);
  EXPECT_FLOAT_EQ(ReadNumber(u"12;note"), 12.0f);
  EXPECT_FLOAT_EQ(ReadNumber(u"1,5"), 1.0f);  // never a decimal comma
}

// A field is read whole, however long, as a stream extraction reads it.
TEST(ReadNumber, LongFieldsAreReadToTheirEnd) {
  EXPECT_FLOAT_EQ(ReadNumber(std::u16string(65, u'0') + u"12"), 12.0f);
  EXPECT_FLOAT_EQ(ReadNumber(u"1." + std::u16string(70, u'0') + u"e5"), 100000.0f);
  EXPECT_FLOAT_EQ(ReadNumber(u"  -" + std::u16string(300, u'0') + u"2.5" + std::u16string(300, u'0') + u"x"), -2.5f);
  EXPECT_FLOAT_EQ(ReadNumber(u"0." + std::u16string(100, u'3')), 1.0f / 3.0f);
}

TEST(ReadNumber, TextWithoutANumberGivesTheMostNegativeFloat) {
  for (const char16_t *text : {u"", u"abc", u"-", u".", u"inf", u"nan", u"--1", u"+-1", u"1e99", u"\uFFB01"}) {
    SCOPED_TRACE(std::string(text, text + std::char_traits<char16_t>::length(text)).c_str());
    const float value = ReadNumber(text);
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    EXPECT_EQ(bits, 0xFF7FFFFFu);
  }
}

TEST(ReadNumber, IgnoresTheProcessLocale) {
  const char *old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 not installed";
  EXPECT_FLOAT_EQ(ReadNumber(u"1.5"), 1.5f);
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(Revision, TruncatesTowardZeroThroughSinglePrecision) {
  EXPECT_EQ(TruncateToRevision(ReadNumber(u"5.9")), 5);
  EXPECT_EQ(TruncateToRevision(ReadNumber(u"-2.5")), -2);
  EXPECT_EQ(TruncateToRevision(ReadNumber(u"12.99999999")), 13);
  EXPECT_EQ(TruncateToRevision(ReadNumber(u"1.9")), 1);
  EXPECT_EQ(TruncateToRevision(ReadNumber(u"abc")), 0);
  EXPECT_EQ(TruncateToRevision(4294967297.0f), 0);  // float rounds to 2^32: low 32 bits are 0
}

TEST(SaturateToInt32, ClampsInsteadOfOverflowing) {
  EXPECT_EQ(SaturateToInt32(12.7), 12);
  EXPECT_EQ(SaturateToInt32(-3.9), -3);
  EXPECT_EQ(SaturateToInt32(1e20), INT32_MAX);
  EXPECT_EQ(SaturateToInt32(-1e20), INT32_MIN);
  EXPECT_EQ(SaturateToInt32(0.0 / 0.0), 0);
}

}  // namespace
}  // namespace vorn_test
