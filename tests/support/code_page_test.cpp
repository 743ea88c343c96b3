#include "support/code_page.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/code_page_names.h"
#include "support/host_code_page.h"

namespace vorn_test {
namespace {

std::string Narrow(std::u16string_view text, std::uint32_t codePage) {
  char buffer[64];
  std::memset(buffer, 0x7F, sizeof buffer);
  if (!QVX::WideToBuffer(text, buffer, sizeof buffer, codePage)) return "<failed>";
  return buffer;
}

std::u16string Wide(const char *text, std::uint32_t codePage) {
  std::u16string out = u"<failed>";
  QVX::NarrowToWide(0, text, out, codePage);
  return out;
}

TEST(CodePageConversion, WesternPagesMapTheirOwnCharacters) {
  EXPECT_EQ(Narrow(u"Gr\u00FC\u00DFe \u20AC", 1252),
            "Gr\xFC\xDF"
            "e \x80");
  EXPECT_EQ(Narrow(u"\u00FC\u00E9\u00DF", 437), "\x81\x82\xE1");
  EXPECT_EQ(Narrow(u"\u00FC\u00E9", 850), "\x81\x82");
  EXPECT_EQ(Narrow(u"\u00FC\u20AC", 65001), "\xC3\xBC\xE2\x82\xAC");
  EXPECT_EQ(Narrow(u"\U0001F600", 65001), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Wide("Gr\xFC\xDF"
                 "e \x80",
                 1252),
            u"Gr\u00FC\u00DFe \u20AC");
  EXPECT_EQ(Wide("\x81\x82\xE1", 437), u"\u00FC\u00E9\u00DF");
  EXPECT_EQ(Wide("\xC3\xBC\xE2\x82\xAC", 65001), u"\u00FC\u20AC");
  EXPECT_EQ(Wide("\xFC", 28591), u"\u00FC");
}

TEST(CodePageConversion, CharactersAPageLacksBecomeItsDefaultCharacter) { EXPECT_EQ(Narrow(u"a\u4E2Db", 1252), "a?b"); }

TEST(CodePageConversion, UnknownPageFailsAndLeavesTheOutputAlone) {
  char buffer[8] = "keep";
  EXPECT_FALSE(QVX::WideToBuffer(u"text", buffer, sizeof buffer, 12345));
  EXPECT_STREQ(buffer, "keep");
  std::u16string out = u"keep";
  EXPECT_FALSE(QVX::NarrowToWide(0, "text", out, 12345));
  EXPECT_EQ(out, u"keep");
  EXPECT_EQ(QVX::NarrowSize(u"text", 12345), 0);
}

TEST(CodePageConversion, EmptyTextWritesNothing) {
  char buffer[8] = "keep";
  EXPECT_FALSE(QVX::WideToBuffer(u"", buffer, sizeof buffer, 1252));
  EXPECT_STREQ(buffer, "keep");
  EXPECT_EQ(QVX::NarrowSize(u"", 1252), 0);
  // The narrow side converts its terminator, so an empty text is a valid empty result.
  std::u16string out = u"old";
  EXPECT_TRUE(QVX::NarrowToWide(0, "", out, 1252));
  EXPECT_EQ(out, u"");
}

TEST(CodePageConversion, NarrowCountAndTerminatorBoundTheInput) {
  std::u16string out;
  ASSERT_TRUE(QVX::NarrowToWide(3, "abcdef", out, 1252));
  EXPECT_EQ(out, u"abc");
  ASSERT_TRUE(QVX::NarrowToWide(5, "ab\0cd", out, 1252));
  EXPECT_EQ(out, u"ab");
  EXPECT_FALSE(QVX::NarrowToWide(-1, "abc", out, 1252));
  EXPECT_FALSE(QVX::NarrowToWide(0, nullptr, out, 1252));
  EXPECT_EQ(out, u"ab");
}

TEST(CodePageBuffer, SmallBufferGetsWhatFitsAndAlwaysATerminator) {
  char buffer[8];
  std::memset(buffer, 'Z', sizeof buffer);
  ASSERT_TRUE(QVX::WideToBuffer(u"abcdef", buffer, 4, 1252));
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(buffer[4], 'Z');

  std::memset(buffer, 'Z', sizeof buffer);
  ASSERT_TRUE(QVX::WideToBuffer(u"abcdef", buffer, 1, 1252));
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], 'Z');

  std::memset(buffer, 'Z', sizeof buffer);
  ASSERT_TRUE(QVX::WideToBuffer(u"abc", buffer, 4, 1252));
  EXPECT_STREQ(buffer, "abc");
}

TEST(CodePageBuffer, Utf8IsCutOnlyBetweenWholeSequences) {
  char buffer[8];
  std::memset(buffer, 'Z', sizeof buffer);
  // "a" + euro sign (3 bytes) + "b": 4 chars of room hold "a" alone.
  ASSERT_TRUE(QVX::WideToBuffer(u"a\u20ACb", buffer, 4, 65001));
  EXPECT_STREQ(buffer, "a");
  EXPECT_EQ(buffer[4], 'Z');
  ASSERT_TRUE(QVX::WideToBuffer(u"a\u20ACb", buffer, 5, 65001));
  EXPECT_STREQ(buffer, "a\xE2\x82\xAC");
  // A surrogate pair is one character of four bytes.
  ASSERT_TRUE(QVX::WideToBuffer(u"x\U0001F600y", buffer, 5, 65001));
  EXPECT_STREQ(buffer, "x");
  ASSERT_TRUE(QVX::WideToBuffer(u"x\U0001F600y", buffer, 6, 65001));
  EXPECT_STREQ(buffer, "x\xF0\x9F\x98\x80");
  EXPECT_EQ(QVX::NarrowSize(u"x\U0001F600y", 65001), 7);
}

TEST(CodePageBuffer, NoRoomMeansNoWriteAndNullBufferOnlyChecks) {
  char buffer[4] = "ok";
  EXPECT_FALSE(QVX::WideToBuffer(u"abc", buffer, 0, 1252));
  EXPECT_FALSE(QVX::WideToBuffer(u"abc", buffer, -5, 1252));
  EXPECT_STREQ(buffer, "ok");
  EXPECT_TRUE(QVX::WideToBuffer(u"abc", nullptr, 0, 1252));
  EXPECT_EQ(QVX::NarrowSize(u"abc", 1252), 4);
}

TEST(CodePageAnsi, AsciiRoundTripsThroughTheThreadPage) {
  EXPECT_EQ(QVX::WideToAnsi(u"COM3 ready"), "COM3 ready");
  EXPECT_EQ(QVX::AnsiToWide("COM3 ready"), u"COM3 ready");
  EXPECT_EQ(QVX::WideToAnsi(u""), "");
}

TEST(CodePageHost, HostPageIsAPageWeCanConvertIn) {
  std::uint32_t page = QVX::HostCodePage();
  ASSERT_NE(page, 0u);
  char buffer[8];
  EXPECT_TRUE(QVX::WideToBuffer(u"COM1", buffer, sizeof buffer, page));
  EXPECT_STREQ(buffer, "COM1");
}

TEST(CodePageNames, CharsetNamesMapBothWays) {
  EXPECT_STREQ(QVX::CharsetName(1252), "CP1252");
  EXPECT_STREQ(QVX::CharsetName(65001), "UTF-8");
  EXPECT_EQ(QVX::CharsetName(12345), nullptr);
  EXPECT_EQ(QVX::CodePageFromCharset("UTF-8"), 65001u);
  EXPECT_EQ(QVX::CodePageFromCharset("utf8"), 65001u);
  EXPECT_EQ(QVX::CodePageFromCharset("ANSI_X3.4-1968"), 20127u);
  EXPECT_EQ(QVX::CodePageFromCharset("ISO-8859-15"), 28605u);
  EXPECT_EQ(QVX::CodePageFromCharset("iso88591"), 28591u);
  EXPECT_EQ(QVX::CodePageFromCharset("no such set"), 0u);
}

}  // namespace
}  // namespace vorn_test
