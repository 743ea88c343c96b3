#include "host/hresult_text.h"

#include <gtest/gtest.h>

#include "host/exceptions.h"

namespace vorn_test {
namespace {

TEST(HostErrorTable, LowWordSelectsTheHostString) {
  EXPECT_EQ(QVX::HostErrorStringId(0xA0048200u), 57345u);
  EXPECT_EQ(QVX::HostErrorStringId(0xA0048205u), 57349u);
  EXPECT_EQ(QVX::HostErrorStringId(0xA0048206u), 57352u);
  EXPECT_EQ(QVX::HostErrorStringId(0xA0048209u), 57354u);
  EXPECT_EQ(QVX::HostErrorStringId(0xA0048212u), 57358u);
  EXPECT_EQ(QVX::HostErrorStringId(0xA004820Au), 0u);
  EXPECT_EQ(QVX::HostErrorStringId(0xA0048219u), 0u);
  EXPECT_EQ(QVX::HostErrorStringId(0xA004821Au), 0u);
}

TEST(HostErrorTable, SilentCodesAndLowWordsBelowTheRangeHaveNoText) {
  EXPECT_EQ(QVX::HostErrorStringId(0xA0048210u), 0u);
  EXPECT_EQ(QVX::HostErrorStringId(0xA0048211u), 0u);
  EXPECT_EQ(QVX::HostErrorStringId(0xA004820Fu), 0u);
  // Below 0x8200 the index would wrap if it were signed or unchecked.
  EXPECT_EQ(QVX::HostErrorStringId(0xA0040001u), 0u);
  EXPECT_EQ(QVX::HostErrorStringId(0xA00481FFu), 0u);
  EXPECT_TRUE(QVX::HResultText(static_cast<QVX::HResult>(0xA0048210u)).IsEmpty());
  EXPECT_TRUE(QVX::HResultText(static_cast<QVX::HResult>(0xA0040001u)).IsEmpty());
}

TEST(Exceptions, XQVXCarriesCodeAndText) {
  QVX::XQVX error(QVX::kFail, QVXString(u"plain text"));
  EXPECT_EQ(error.code, QVX::kFail);
  EXPECT_STREQ(error.what(), "plain text");
  EXPECT_EQ(error.Text(), u"plain text");
  QVX::XQVX silent(static_cast<QVX::HResult>(0xA0048210u));
  EXPECT_STREQ(silent.what(), "");
  try {
    throw QVX::XHResult{QVX::kNoInterface};
  } catch (const QVX::XHResult &caught) {
    EXPECT_EQ(caught.code, QVX::kNoInterface);
  }
}

}  // namespace
}  // namespace vorn_test
