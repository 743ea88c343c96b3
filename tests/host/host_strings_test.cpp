#include "host/host_strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace vorn_test {
namespace {

QVXString Substituted(const char16_t *text) {
  QVXString s(text);
  QVX::ApplySubstitutions(s, QVX::NameSubstitutions());
  return s;
}

TEST(NameSubstitutions, RowsAreInTheirOrder) {
  const auto &rows = QVX::NameSubstitutions();
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0].first, u"PLOTRFORWINDOWS");
  EXPECT_EQ(rows[1].first, u"PLOTR");
  EXPECT_EQ(rows[2].first, u"DYNACORE");
  EXPECT_EQ(rows[3].first, u"QVX");
  EXPECT_EQ(rows[4].first, u"OEM");
  EXPECT_EQ(rows[5].first, u"QUINTAVIX");
  EXPECT_EQ(rows[1].second, u"Wavedesk");
  EXPECT_EQ(rows[5].second, u"Quintavix");
}

TEST(NameSubstitutions, LongerTokenIsReplacedWhole) {
  EXPECT_EQ(Substituted(u"Start PLOTRFORWINDOWS now"), u"Start Wavedesk now");
  EXPECT_EQ(Substituted(u"PLOTR and PLOTR"), u"Wavedesk and Wavedesk");
  EXPECT_EQ(Substituted(u"QVX, OEM, QUINTAVIX, DYNACORE"), u"Quintavix, Quintavix, Quintavix, Dynacore");
}

TEST(NameSubstitutions, OtherTextAndLowerCaseTokensStay) {
  EXPECT_EQ(Substituted(u"nothing to change"), u"nothing to change");
  EXPECT_EQ(Substituted(u"plotr and Plotr"), u"plotr and Plotr");
  EXPECT_EQ(Substituted(u""), u"");
}

TEST(NameSubstitutions, NameHoldingItsOwnTokenIsNotReplacedAgain) {
  std::vector<QVX::Substitution> rows = {{QVXString(u"AB"), QVXString(u"xABx")}};
  QVXString text(u"AB-AB");
  QVX::ApplySubstitutions(text, rows);
  EXPECT_EQ(text, u"xABx-xABx");
}

std::vector<std::uint8_t> Block(const std::vector<std::u16string> &strings) {
  std::vector<std::uint8_t> block;
  for (const std::u16string &s : strings) {
    auto length = static_cast<std::uint16_t>(s.size());
    block.push_back(static_cast<std::uint8_t>(length & 0xFF));
    block.push_back(static_cast<std::uint8_t>(length >> 8));
    for (char16_t c : s) {
      block.push_back(static_cast<std::uint8_t>(c & 0xFF));
      block.push_back(static_cast<std::uint8_t>(c >> 8));
    }
  }
  return block;
}

TEST(StringTableBlock, StringIsFoundByItsIndex) {
  std::vector<std::u16string> strings(16);
  strings[3] = u"third";
  strings[15] = u"last";
  std::vector<std::uint8_t> block = Block(strings);
  EXPECT_EQ(QVX::StringFromBlock(block.data(), block.size(), 3), u"third");
  EXPECT_EQ(QVX::StringFromBlock(block.data(), block.size(), 15), u"last");
  EXPECT_FALSE(QVX::StringFromBlock(block.data(), block.size(), 4));
  EXPECT_FALSE(QVX::StringFromBlock(block.data(), block.size(), 16));
}

TEST(StringTableBlock, LengthsBeyondTheBlockAreNotRead) {
  std::vector<std::uint8_t> block = Block({u"", u"abcdef"});
  // Claims six characters but only four are left in the block.
  block.resize(block.size() - 4);
  EXPECT_FALSE(QVX::StringFromBlock(block.data(), block.size(), 1));
  EXPECT_FALSE(QVX::StringFromBlock(block.data(), block.size(), 5));
  std::uint8_t odd[3] = {0, 0, 7};
  EXPECT_FALSE(QVX::StringFromBlock(odd, sizeof odd, 1));
  EXPECT_FALSE(QVX::StringFromBlock(nullptr, 0, 0));
}

TEST(HostStrings, IdZeroIsEmpty) { EXPECT_TRUE(QVX::LoadHostString(nullptr, 0, true).IsEmpty()); }

}  // namespace
}  // namespace vorn_test
