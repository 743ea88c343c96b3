#include "support/string_stream.h"

#include <gtest/gtest.h>

#include <string>

#include "support/strstream.h"
#include "support/wide_insert.h"

namespace vorn_test {
namespace {

TEST(OStringStream, WritesTextAndNumbersIntoOneString) {
  QVX::OStringStream out;
  out << L"COM" << 12;
  EXPECT_EQ(out.str(), u"COM12");
}

TEST(OStringStream, GrowsByDoublingAndKeepsEverything) {
  QVX::OStringStream out;
  std::u16string expected;
  for (int i = 0; i < 200; ++i) {
    out << L"line " << i << L';';
    std::string part = "line " + std::to_string(i) + ";";
    expected += std::u16string(part.begin(), part.end());
  }
  QVXString text = out.str();
  EXPECT_EQ(text, std::u16string_view(expected));
  std::uint32_t capacity = text.Capacity();
  // Doubling from 9: the capacity is 9 times a power of two.
  EXPECT_EQ(capacity % 9, 0u);
  EXPECT_EQ((capacity / 9) & (capacity / 9 - 1), 0u);
}

TEST(OStringStream, StringHandedOutNeverChanges) {
  QVX::OStringStream out;
  out << L"first";
  QVXString taken = out.str();
  out << L" second";
  EXPECT_EQ(taken, u"first");
  QVXString again = out.str();
  EXPECT_EQ(again, u"first second");
  EXPECT_EQ(taken, u"first");
}

TEST(OStringStream, WideTextsAndNarrowTextsAreInserted) {
  QVX::OStringStream out;
  out << QVXString(u"qvx ") << QVX::Utf16{u"\U0001F600"} << QVX::NarrowText{" ascii"} << QVX::NarrowText{nullptr};
  QVXString text = out.str();
  EXPECT_EQ(text, u"qvx \U0001F600 ascii");
}

TEST(OStrStream, FixedArrayIsNeverWrittenPastItsLength) {
  wchar_t array[8];
  std::fill(std::begin(array), std::end(array), L'#');
  QVX::basic_ostrstream<wchar_t> out(array, 5);
  out << L"abcdefgh";
  EXPECT_EQ(out.pcount(), 5);
  EXPECT_TRUE(out.bad());
  EXPECT_EQ(std::wstring(array, 5), L"abcde");
  EXPECT_EQ(array[5], L'#');

  wchar_t small[6] = L"xxxx";
  QVX::basic_ostrstream<wchar_t> bounded(small, 0);
  bounded << L"12" << std::ends;
  EXPECT_EQ(std::wstring(small), L"12");
  QVX::basic_ostrstream<wchar_t> negative(small, -1);
  negative << L"123456789";
  EXPECT_EQ(negative.pcount(), 2);
}

TEST(OStrStream, DynamicArrayGrows) {
  QVX::basic_ostrstream<wchar_t> out;
  std::wstring text(100, L'q');
  out << text << std::ends;
  EXPECT_EQ(out.pcount(), 101);
  EXPECT_EQ(std::wstring(out.str()), text);
}

}  // namespace
}  // namespace vorn_test
