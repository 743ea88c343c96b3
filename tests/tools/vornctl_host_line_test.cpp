// The sample lines as vornctl takes them from the driver: the "@ " parser,
// the block splitter, and the ReadLine piece rule.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/vornctl/host_line.h"
#include "tools/vornctl/line_source.h"

namespace vorn_test {

using namespace vornctl;

namespace {

std::vector<std::int32_t> Parsed(const std::string &line, std::size_t expected, bool &ok) {
  std::vector<std::int32_t> values;
  ok = ParseHostLine(line, expected, values);
  return values;
}

TEST(HostLineParser, AcceptsTheValuesOfTheEnabledChannels) {
  bool ok = false;
  EXPECT_EQ(Parsed("@ 16384,32767", 2, ok), (std::vector<std::int32_t>{16384, 32767}));
  EXPECT_TRUE(ok);
  EXPECT_EQ(Parsed("@ 0", 1, ok), (std::vector<std::int32_t>{0}));
  EXPECT_TRUE(ok);
  // The unscaled path of a channel without a range forwards signed numbers.
  EXPECT_EQ(Parsed("@ -3,12", 2, ok), (std::vector<std::int32_t>{-3, 12}));
  EXPECT_TRUE(ok);
}

TEST(HostLineParser, AcceptsTheTrailingCommaTheDriverWrites) {
  bool ok = false;
  // Last position not enabled: "16384,2294," before the line feed.
  EXPECT_EQ(Parsed("@ 16384,2294,", 2, ok), (std::vector<std::int32_t>{16384, 2294}));
  EXPECT_TRUE(ok);
  // A missing value at the last position is "0," with its comma.
  EXPECT_EQ(Parsed("@ 5,0,", 2, ok), (std::vector<std::int32_t>{5, 0}));
  EXPECT_TRUE(ok);
  Parsed("@ ", 0, ok);
  EXPECT_TRUE(ok);
}

TEST(HostLineParser, RejectsLinesThatAreNotOneIntegerPerChannel) {
  bool ok = true;
  for (const char *line : {"", "@", "@1,2", "# 1,2", "@ 1", "@ 1,2,3", "@ 1,,2", "@ 1,2,,", "@ ,1,2", "@  1,2",
                           "@ 1 ,2", "@ +1,2", "@ 1.5,2", "@ 1,x", "@ 2147483648,1", "@ -,1", "@ 1,2\r", " @ 1,2"}) {
    Parsed(line, 2, ok);
    EXPECT_FALSE(ok) << '"' << line << '"';
  }
  Parsed("@ ,", 0, ok);
  EXPECT_FALSE(ok);
}

TEST(BlockLineSplitter, JoinsLinesSplitAcrossBlocks) {
  BlockLineSplitter splitter;
  std::string line;
  bool overlong = true;
  splitter.Feed("@ 1,", 4);
  EXPECT_FALSE(splitter.Next(line, overlong));
  splitter.Feed("2\n@ 3,4\n@ 5", 11);
  ASSERT_TRUE(splitter.Next(line, overlong));
  EXPECT_EQ(line, "@ 1,2");
  EXPECT_FALSE(overlong);
  ASSERT_TRUE(splitter.Next(line, overlong));
  EXPECT_EQ(line, "@ 3,4");
  EXPECT_FALSE(splitter.Next(line, overlong));
  splitter.Feed(",6\n", 3);
  ASSERT_TRUE(splitter.Next(line, overlong));
  EXPECT_EQ(line, "@ 5,6");
}

TEST(BlockLineSplitter, ReportsAnOverlongLineOnceAndResumesAfterItsLineFeed) {
  BlockLineSplitter splitter;
  std::string line;
  bool overlong = false;
  const std::string junk(kLineLimit + 10, 'x');
  splitter.Feed(junk.data(), junk.size());
  ASSERT_TRUE(splitter.Next(line, overlong));
  EXPECT_TRUE(overlong);
  EXPECT_TRUE(line.empty());
  splitter.Feed(junk.data(), junk.size());
  EXPECT_FALSE(splitter.Next(line, overlong));
  splitter.Feed("yy\n@ 7\n", 7);
  ASSERT_TRUE(splitter.Next(line, overlong));
  EXPECT_FALSE(overlong);
  EXPECT_EQ(line, "@ 7");

  // An overlong line that arrives whole with its line feed counts once too.
  const std::string whole = std::string(kLineLimit + 1, 'z') + "\n@ 8\n";
  splitter.Feed(whole.data(), whole.size());
  ASSERT_TRUE(splitter.Next(line, overlong));
  EXPECT_TRUE(overlong);
  ASSERT_TRUE(splitter.Next(line, overlong));
  EXPECT_EQ(line, "@ 8");
}

// The driver's reads over a ring held here: the one thing a test cannot get
// from the real driver is a line longer than the host's buffer.
std::string ring;

std::int32_t FakeReadLine(std::int32_t, char *buffer, std::int32_t maxLen, std::uint32_t) {
  const std::size_t end = ring.find_first_of("\r\n");
  if (end == std::string::npos) return 0;
  std::size_t taken = 0;
  std::size_t stored = 0;
  while (static_cast<std::int32_t>(stored) < maxLen - 1 && taken < ring.size()) {
    const char c = ring[taken++];
    if (c == '\n' || c == '\r') break;
    buffer[stored++] = c;
  }
  buffer[stored] = '\0';
  ring.erase(0, taken);
  return 1;
}

std::int32_t FakeReadBuffSize(std::int32_t) { return static_cast<std::int32_t>(ring.size()); }

std::int32_t FakeReadBuffer(std::int32_t, char *buffer, std::int32_t count, std::uint32_t) {
  if (ring.empty()) return 0;
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), ring.size());
  ring.copy(buffer, n);
  ring.erase(0, n);
  return n > 0;
}

vorn_host::VornLibrary FakeLibrary() {
  vorn_host::VornLibrary lib;
  lib.ReadLine = FakeReadLine;
  lib.ReadBuffSize = FakeReadBuffSize;
  lib.ReadBuffer = FakeReadBuffer;
  return lib;
}

std::vector<std::string> Drain(bool blockMode) {
  const vorn_host::VornLibrary lib = FakeLibrary();
  LineSource source(lib, 0, blockMode);
  std::vector<std::string> seen;
  std::string line;
  for (int i = 0; i < 20; ++i) {
    const LineSource::Result r = source.Next(line, 0);
    if (r == LineSource::Result::Timeout) break;
    seen.push_back(r == LineSource::Result::Overlong ? "<overlong>" : line);
  }
  return seen;
}

TEST(LineSource, AnOverlongLineIsOneDroppedLineWhateverItsPieces) {
  for (bool blockMode : {false, true}) {
    ring = "@ 1,2\n" + std::string(3 * kLineLimit + 7, 'x') + "\n@ 3,4\n";
    EXPECT_EQ(Drain(blockMode), (std::vector<std::string>{"@ 1,2", "<overlong>", "@ 3,4"})) << blockMode;
    EXPECT_TRUE(ring.empty());
  }
}

TEST(LineSource, APieceThatFillsTheBufferExactlyDoesNotTurnItsLineFeedIntoALine) {
  // ReadLine then leaves the line feed behind and returns an empty line next.
  // Block reads draw the same line between too long and long enough.
  for (bool blockMode : {false, true}) {
    ring = std::string(kLineLimit, 'x') + "\n@ 5\n";
    EXPECT_EQ(Drain(blockMode), (std::vector<std::string>{"<overlong>", "@ 5"})) << blockMode;
    ring = std::string(kLineLimit - 1, 'y') + "\n@ 6\n";
    const std::vector<std::string> seen = Drain(blockMode);
    ASSERT_EQ(seen.size(), 2u) << blockMode;
    EXPECT_EQ(seen[0].size(), kLineLimit - 1);
    EXPECT_EQ(seen[1], "@ 6");
  }
}

TEST(LineSource, BlockModeHandsOverAHalfLineOnlyOnceItIsComplete) {
  ring = "@ 9,9\n@ 1";
  EXPECT_EQ(Drain(true), (std::vector<std::string>{"@ 9,9"}));
  EXPECT_TRUE(ring.empty());
}

}  // namespace
}  // namespace vorn_test
