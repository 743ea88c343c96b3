// vornctl view's event texts and token rule, without a server.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tools/vornctl/view_controls.h"
#include "tools/vornctl/view_http_rules.h"
#include "tools/vornctl/view_json.h"
#include "tools/vornctl/view_server.h"
#include "tools/vornctl/view_urls.h"

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

TEST(ViewHttpRules, MediaTypeMatchesExactlyWithAnyCaseAndParameters) {
  EXPECT_TRUE(MediaTypeIs("application/json", "application/json"));
  EXPECT_TRUE(MediaTypeIs("Application/JSON; charset=utf-8", "application/json"));
  EXPECT_TRUE(MediaTypeIs(" application/json ;charset=utf-8", "application/json"));
  EXPECT_FALSE(MediaTypeIs("application/jsonx", "application/json"));
  EXPECT_FALSE(MediaTypeIs("application/json-seq", "application/json"));
  EXPECT_FALSE(MediaTypeIs("text/json", "application/json"));
  EXPECT_FALSE(MediaTypeIs("", "application/json"));
}

TEST(ViewHttpRules, OnlyAnAbsentOrIdentityEncodingLeavesTheBodyAsItIs) {
  EXPECT_TRUE(IsIdentityEncoding(""));
  EXPECT_TRUE(IsIdentityEncoding("Identity"));
  for (const char *packed : {"gzip", "br", "deflate", "gzip, identity", "x-unknown"}) {
    EXPECT_FALSE(IsIdentityEncoding(packed)) << packed;
  }
}

TEST(ViewHttpRules, CookieAndQueryValuesAreFoundByTheirWholeName) {
  EXPECT_EQ(CookieValue("a=1; vorn_token_8080=abc; b=2", "vorn_token_8080"), "abc");
  EXPECT_EQ(CookieValue("vorn_token_80800=abc", "vorn_token_8080"), "");
  EXPECT_EQ(CookieValue("", "vorn_token_8080"), "");
  EXPECT_EQ(QueryValue("x=1&token=ff", "token"), "ff");
  EXPECT_EQ(QueryValue("mytoken=ff", "token"), "");
  const RequestTarget t = SplitTarget("/index.html?token=ab&x");
  EXPECT_EQ(t.path, "/index.html");
  EXPECT_EQ(t.query, "token=ab&x");
  EXPECT_EQ(SplitTarget("/").query, "");
}

TEST(ViewHttpRules, TheTokenCookieIsHiddenFromScriptsAndOtherSites) {
  const std::string cookie = TokenCookie(8080, "abc");
  EXPECT_EQ(cookie.rfind("vorn_token_8080=abc;", 0), 0u);
  EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
  EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
}

TEST(ViewHttpRules, LoopbackHostsWithOrWithoutThisPort) {
  EXPECT_TRUE(IsLoopbackHost("127.0.0.1:8080", 8080));
  EXPECT_TRUE(IsLoopbackHost("LOCALHOST", 8080));
  EXPECT_TRUE(IsLoopbackHost("[::1]:8080", 8080));
  EXPECT_FALSE(IsLoopbackHost("127.0.0.1:8081", 8080));
  EXPECT_FALSE(IsLoopbackHost("localhost.example:8080", 8080));
  EXPECT_FALSE(IsLoopbackHost("", 8080));
}

TEST(ViewUrls, AWildcardStandsForEveryInterfaceOfItsFamilyAndTheHostName) {
  const std::vector<InterfaceAddress> interfaces = {
      {"192.168.1.20", false, false}, {"127.0.0.1", true, false}, {"2001:db8::5", false, true}, {"::1", true, true}};
  EXPECT_EQ(ViewUrls("0.0.0.0", 8080, "/?token=t", interfaces, "ward-pc"),
            (std::vector<std::string>{"http://127.0.0.1:8080/?token=t", "http://192.168.1.20:8080/?token=t",
                                      "http://ward-pc:8080/?token=t"}));
  EXPECT_EQ(ViewUrls("::", 8080, "/", interfaces, ""),
            (std::vector<std::string>{"http://127.0.0.1:8080/", "http://[::1]:8080/", "http://192.168.1.20:8080/",
                                      "http://[2001:db8::5]:8080/"}));
  EXPECT_EQ(ViewUrls("192.168.1.20", 80, "/", interfaces, "ward-pc"),
            (std::vector<std::string>{"http://192.168.1.20:80/"}));
  EXPECT_EQ(ViewUrls("fe80::1", 80, "/", {}, ""), (std::vector<std::string>{"http://[fe80::1]:80/"}));
  // No interface known: loopback still answers.
  EXPECT_EQ(ViewUrls("0.0.0.0", 80, "/", {}, ""), (std::vector<std::string>{"http://127.0.0.1:80/"}));
}

TEST(ViewControls, ARequestForNoDeviceIsRefusedAtOnceInTheSameShape) {
  ControlReply got;
  int calls = 0;
  RunControl({}, "3", "start", "{}", [&](ControlReply r) {
    got = std::move(r);
    ++calls;
  });
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(got.status, 404);
  EXPECT_NE(got.body["error"].get<std::string>().find("no device 3 (found 0"), std::string::npos);
  EXPECT_TRUE(IsControlAction("record-stop"));
  EXPECT_FALSE(IsControlAction("explode"));
}

TEST(ViewPageFiles, AFolderWithoutTheBuiltPageNamesWhatIsMissing) {
  const std::string missing = MissingPageFiles("/nonexistent-vornctl-web");
  for (const char *name : {"index.html", "view.js", "view.css", "uPlot.iife.min.js", "uPlot.min.css"}) {
    EXPECT_NE(missing.find(name), std::string::npos) << name;
  }
}

}  // namespace
}  // namespace vorn_test
