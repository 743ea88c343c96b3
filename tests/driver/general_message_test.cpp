#include <gtest/gtest.h>

#include <cstring>

#include "device/protocol/host_text_io.h"
#include "driver/general_message.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {

std::size_t SizeOf(const SessionFlags *s, const FtdiFlags *f) { return ChooseGeneralMessage(s, f).size() + 1; }

TEST(GeneralMessage, SessionFlagsDecideInOrderAndSizesMatchTheHostTable) {
  SessionFlags none, wrong{true, false}, silent{false, true}, both{true, true};
  EXPECT_EQ(SizeOf(nullptr, nullptr), 87u);
  EXPECT_EQ(SizeOf(&wrong, nullptr), 143u);
  EXPECT_EQ(SizeOf(&both, nullptr), 143u);
  EXPECT_EQ(SizeOf(&silent, nullptr), 83u);
  EXPECT_EQ(SizeOf(&none, nullptr), 50u);
}

TEST(GeneralMessage, FtdiFlagsCountOnlyWithoutSessions) {
  FtdiFlags notInstalled{true, false}, cannotLoad{false, true}, usable{};
  SessionFlags none;
  EXPECT_EQ(SizeOf(nullptr, &notInstalled), 185u);
  EXPECT_EQ(SizeOf(nullptr, &cannotLoad), 41u);
  EXPECT_EQ(SizeOf(nullptr, &usable), 87u);
  EXPECT_EQ(SizeOf(&none, &notInstalled), 50u);
}

TEST(GeneralMessage, AnEmptyPortListIsNamedOnlyWithoutSessions) {
  SessionFlags wrong{true, false};
  const auto text = ChooseGeneralMessage(nullptr, nullptr, true);
  EXPECT_EQ(text.rfind(u"The Vorn Device cannot be found.\n", 0), 0u);
  EXPECT_NE(text.find(u"VORN_PORTS"), std::u16string_view::npos);
  EXPECT_EQ(SizeOf(&wrong, nullptr), ChooseGeneralMessage(&wrong, nullptr, true).size() + 1);
}

TEST(GeneralMessage, TextsUseSingleLineFeedsOnly) {
  FtdiFlags notInstalled{true, false};
  const auto text = ChooseGeneralMessage(nullptr, &notInstalled);
  EXPECT_EQ(text.find(u'\r'), std::u16string_view::npos);
  EXPECT_NE(text.find(u"\n\nRefer"), std::u16string_view::npos);
}

TEST(CopyTextToHost, NullBufferGivesTheSizeOnly) { EXPECT_EQ(CopyTextToHost(u"abc", nullptr), 4); }

TEST(CopyTextToHost, CopiesTheTextWithItsTerminatorWithinTheSize) {
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(CopyTextToHost(u"abc", buffer), 4);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(buffer[4], 'x');
}

TEST(CopyTextToHost, EmptyTextStillLeavesAnEmptyString) {
  char buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(CopyTextToHost(u"", buffer), 1);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], 'x');
}

}  // namespace
}  // namespace vorn_test
