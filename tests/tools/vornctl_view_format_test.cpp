// vornctl view's event texts and token rule, without a server.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tools/vornctl/view_json.h"
#include "tools/vornctl/view_server.h"

namespace vorn_test {

using namespace vornctl;

namespace {

TEST(ViewBlocksJson, CarriesEveryDevicesValuesWithDamagedLinesAsNull) {
  std::vector<IndexedBlock> blocks(2);
  blocks[0].device = 0;
  blocks[0].block.stream = 3;
  blocks[0].block.firstLine = 1234567890123ull;
  blocks[0].block.lastArrivalMs = 1796818365784.625;
  blocks[0].block.values = {{0, 32767, kNoValue}, {-5, 16384, kNoValue}};
  blocks[1].device = 7;
  blocks[1].block.skipped = 12;
  blocks[1].block.values = {{}};
  const std::string text = BlocksJson(blocks, 1796818365786.5);
  ASSERT_EQ(text.find('\n'), std::string::npos) << "one SSE data line";
  const nlohmann::json j = nlohmann::json::parse(text);
  EXPECT_DOUBLE_EQ(j["sent"].get<double>(), 1796818365786.5);
  ASSERT_EQ(j["blocks"].size(), 2u);
  const auto &b = j["blocks"][0];
  EXPECT_EQ(b["device"], 0);
  EXPECT_EQ(b["stream"], 3);
  EXPECT_EQ(b["first"].get<std::uint64_t>(), 1234567890123ull);
  EXPECT_NEAR(b["arrival"].get<double>(), 1796818365784.6, 0.051);
  EXPECT_EQ(b["values"], nlohmann::json::parse("[[0,32767,null],[-5,16384,null]]"));
  EXPECT_EQ(j["blocks"][1]["device"], 7);
  EXPECT_EQ(j["blocks"][1]["skipped"], 12);
  EXPECT_EQ(j["blocks"][1]["values"], nlohmann::json::parse("[[]]"));
}

TEST(ViewBlocksJson, NoBlocksIsAnEmptyList) {
  EXPECT_EQ(nlohmann::json::parse(BlocksJson({}, 0))["blocks"], nlohmann::json::array());
}

TEST(ViewEventMessage, IsOneServerSentEventEndedByABlankLine) {
  EXPECT_EQ(EventMessage("state", "{\"a\":1}"), "event: state\ndata: {\"a\":1}\n\n");
}

TEST(ViewToken, IsLongRandomHexAndMatchesOnlyItself) {
  const std::string a = MakeToken();
  const std::string b = MakeToken();
  EXPECT_EQ(a.size(), 32u);
  EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(a, b);
  EXPECT_TRUE(TokenMatches(a, a));
  EXPECT_FALSE(TokenMatches(b, a));
  EXPECT_FALSE(TokenMatches("", a));
  EXPECT_FALSE(TokenMatches(a.substr(0, 31), a));
  EXPECT_FALSE(TokenMatches(a + "0", a));
}

TEST(ViewPageFiles, AFolderWithoutTheBuiltPageNamesWhatIsMissing) {
  const std::string missing = MissingPageFiles("/nonexistent-vornctl-web");
  for (const char *name : {"index.html", "view.js", "view.css", "uPlot.iife.min.js", "uPlot.min.css"}) {
    EXPECT_NE(missing.find(name), std::string::npos) << name;
  }
}

}  // namespace
}  // namespace vorn_test
