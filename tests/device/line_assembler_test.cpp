#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/protocol/line_assembler.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {

class RecordingRouter : public LineRouter {
 public:
  QVX::Status RouteLine(std::u16string_view line) override {
    lines.emplace_back(line);
    return failOn == line ? QVX::kStatusAbort : QVX::kStatusOk;
  }
  std::vector<std::u16string> lines;
  std::u16string failOn = u"\x1";
};

class Assembler : public ::testing::Test {
 protected:
  QVX::Status Feed(const std::string &bytes) {
    return assembler.AssembleLines(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
  }
  RecordingRouter router;
  LineAssembler assembler{router};
};

TEST_F(Assembler, SplitsAtCarriageReturnAndSkipsTheLineFeed) {
  EXPECT_EQ(Feed("S\r\nV,1,2\r\n"), 0);
  EXPECT_EQ(router.lines, (std::vector<std::u16string>{u"S", u"V,1,2"}));
}

TEST_F(Assembler, PartialLineIsContinuedByTheNextChunk) {
  Feed("t,5");
  EXPECT_TRUE(router.lines.empty());
  Feed("0,7\r\n");
  EXPECT_EQ(router.lines, (std::vector<std::u16string>{u"t,50,7"}));
}

TEST_F(Assembler, CrLfSplitAcrossChunksLeavesNoStrayLineFeed) {
  Feed("S\r");
  Feed("\nB\r\n");
  EXPECT_EQ(router.lines, (std::vector<std::u16string>{u"S", u"B"}));
}

TEST_F(Assembler, ByteAfterABareCarriageReturnIsKept) {
  Feed("S\rB\r\n");
  EXPECT_EQ(router.lines, (std::vector<std::u16string>{u"S", u"B"}));
  router.lines.clear();
  Feed("A\r");
  Feed("Z\r\n");
  EXPECT_EQ(router.lines, (std::vector<std::u16string>{u"A", u"Z"}));
}

TEST_F(Assembler, HighBytesAreLatin1Characters) {
  Feed("\xB0\x80\xFF\xB5V\r\n");
  ASSERT_EQ(router.lines.size(), 1u);
  EXPECT_EQ(router.lines[0], (std::u16string{u'\u00B0', u'\u0080', u'\u00FF', u'\u00B5', u'V'}));
}

TEST_F(Assembler, LineFeedsWithoutCarriageReturnStayInTheLine) {
  Feed("a\nb\r\n");
  EXPECT_EQ(router.lines, (std::vector<std::u16string>{u"a\nb"}));
}

TEST_F(Assembler, OverlongLineIsDroppedAndTheNextOneSurvives) {
  Feed(std::string(LineAssembler::kMaxLineLength + 10, 'x'));
  Feed(std::string(100000, 'y'));
  Feed("\r\nS\r\n");
  EXPECT_EQ(router.lines, (std::vector<std::u16string>{u"S"}));
  router.lines.clear();
  Feed(std::string(LineAssembler::kMaxLineLength, 'z') + "\r\n");
  ASSERT_EQ(router.lines.size(), 1u);
  EXPECT_EQ(router.lines[0].size(), LineAssembler::kMaxLineLength);
}

TEST_F(Assembler, FailingHandlerDropsTheRestOfTheChunk) {
  router.failOn = u"bad";
  EXPECT_EQ(Feed("ok\r\nbad\r\nlost\r\n"), QVX::kStatusFail);
  EXPECT_EQ(router.lines, (std::vector<std::u16string>{u"ok", u"bad"}));
  EXPECT_EQ(Feed("next\r\n"), 0);
  EXPECT_EQ(router.lines.back(), u"next");
}

// A failing line whose CR ends the read leaves its LF to the next read; that LF
// must not begin the next line (the names line after a failed count check).
TEST_F(Assembler, FailingLineAtTheEndOfAReadStillSkipsItsLineFeed) {
  router.failOn = u"bad";
  EXPECT_EQ(Feed("ok\r\nbad\r"), QVX::kStatusFail);
  EXPECT_EQ(Feed("\nd,e,f\r\n"), 0);
  EXPECT_EQ(router.lines, (std::vector<std::u16string>{u"ok", u"bad", u"d,e,f"}));
  // After a failing line in the middle of a read the next read starts clean.
  router.lines.clear();
  EXPECT_EQ(Feed("bad\r\nlost\r\n"), QVX::kStatusFail);
  EXPECT_EQ(Feed("g\r\n"), 0);
  EXPECT_EQ(router.lines, (std::vector<std::u16string>{u"bad", u"g"}));
}

TEST_F(Assembler, ResetForgetsAPartialLine) {
  Feed("par");
  assembler.Reset();
  Feed("S\r\n");
  EXPECT_EQ(router.lines, (std::vector<std::u16string>{u"S"}));
}

TEST_F(Assembler, EveryChunkSplitGivesTheSameLines) {
  const std::string stream = "S\r\nV,1,2,3,4\r\nF\r\nt,a,b\r\n\r\n\xC3\xA9\r\nEND\r\n";
  RecordingRouter whole;
  LineAssembler reference(whole);
  reference.AssembleLines(reinterpret_cast<const std::uint8_t *>(stream.data()), stream.size());
  for (std::size_t cut1 = 0; cut1 <= stream.size(); ++cut1) {
    for (std::size_t cut2 = cut1; cut2 <= stream.size(); cut2 += 3) {
      RecordingRouter split;
      LineAssembler a(split);
      const auto *bytes = reinterpret_cast<const std::uint8_t *>(stream.data());
      a.AssembleLines(bytes, cut1);
      a.AssembleLines(bytes + cut1, cut2 - cut1);
      a.AssembleLines(bytes + cut2, stream.size() - cut2);
      ASSERT_EQ(split.lines, whole.lines) << cut1 << "," << cut2;
    }
  }
}

}  // namespace
}  // namespace vorn_test
