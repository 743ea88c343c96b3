// What a subscriber reads from the command line, key files and the network
// before anything is recorded: a publisher's address, CURVE key files and
// metadata messages, each taken as meant or refused with the reason.
#include <gtest/gtest.h>

#include <zmq.h>

#include <fstream>

#include "tests/tools/vornctl_scratch_test.h"
#include "tools/vornctl/curve_keys.h"
#include "tools/vornctl/publisher_address.h"
#include "tools/vornctl/record_from.h"
#include "tools/vornctl/recording_name.h"
#include "tools/vornctl/stream_meta.h"

namespace vorn_test {

using namespace vornctl;

TEST(PublisherAddress, TakesTcpUrlsAndPutsControlOnTheNextPort) {
  PublisherAddress a;
  std::string error;
  ASSERT_TRUE(ParsePublisherAddress("tcp://127.0.0.1:5650", "", a, error)) << error;
  EXPECT_EQ(a.url, "tcp://127.0.0.1:5650");
  EXPECT_EQ(a.controlUrl, "tcp://127.0.0.1:5651");
  EXPECT_TRUE(a.loopback);
  ASSERT_TRUE(ParsePublisherAddress("tcp://localhost", "", a, error)) << error;
  EXPECT_EQ(a.url, "tcp://localhost:5650");
  EXPECT_TRUE(a.loopback);
  ASSERT_TRUE(ParsePublisherAddress("tcp://[::1]:7000", "tcp://[::1]:7100", a, error)) << error;
  EXPECT_EQ(a.url, "tcp://[::1]:7000");
  EXPECT_EQ(a.controlUrl, "tcp://[::1]:7100");
  EXPECT_TRUE(a.loopback);
  ASSERT_TRUE(ParsePublisherAddress("tcp://192.0.2.7:5650", "", a, error)) << error;
  EXPECT_FALSE(a.loopback);
  // A control socket beyond loopback puts the whole link under the keys rule.
  ASSERT_TRUE(ParsePublisherAddress("tcp://127.0.0.1:5650", "tcp://192.0.2.7:5651", a, error)) << error;
  EXPECT_FALSE(a.loopback);
}

TEST(PublisherAddress, RefusesWhatIsNoPublisherUrlSayingWhy) {
  PublisherAddress a;
  std::string error;
  const std::pair<const char *, const char *> wrong[] = {
      {"127.0.0.1:5650", "tcp://HOST:5650"}, {"ipc:///tmp/x", "tcp:// only"}, {"tcp://:5650", "no host"},
      {"tcp://h:0", "1 to 65535"},           {"tcp://h:99999", "1 to 65535"}, {"tcp://h:", "nothing after ':'"},
      {"tcp://[::1", "closing ]"},           {"tcp://h:65535", "--control"},
  };
  for (const auto &[url, why] : wrong) {
    error.clear();
    EXPECT_FALSE(ParsePublisherAddress(url, "", a, error)) << url;
    EXPECT_NE(error.find(why), std::string::npos) << url << ": " << error;
  }
  EXPECT_FALSE(ParsePublisherAddress("tcp://h:5650", "udp://h:1", a, error));
  EXPECT_NE(error.find("--control"), std::string::npos) << error;
}

class KeyFileTest : public ScratchFolderTest {
 protected:
  KeyFileTest() : ScratchFolderTest("vornctl-keys") {}
  void SetUp() override {
    ScratchFolderTest::SetUp();
    char pub[41], sec[41];
    ASSERT_EQ(zmq_curve_keypair(pub, sec), 0);
    publicKey = pub;
    secretKey = sec;
    ASSERT_EQ(zmq_curve_keypair(pub, sec), 0);
    serverPublic = pub;
  }
  std::string Write(const std::string &name, const std::string &text) {
    std::ofstream(File(name)) << text;
    std::filesystem::permissions(File(name), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return File(name);
  }
  std::string publicKey, secretKey, serverPublic;
};

TEST_F(KeyFileTest, ClientKeysNeedBothFilesAndAPairOfOurOwn) {
  const std::string server = Write("server.pub", serverPublic + "\n");
  const std::string client =
      Write("client.key", "public-key = \"" + publicKey + "\"\nsecret-key = \"" + secretKey + "\"\n");
  CurveClientKeys keys;
  std::string error;
  ASSERT_TRUE(LoadClientKeys(server, client, keys, error)) << error;
  EXPECT_EQ(keys.serverPublic, serverPublic);
  EXPECT_EQ(keys.clientPublic, publicKey);
  EXPECT_EQ(keys.clientSecret, secretKey);
  ASSERT_TRUE(LoadClientKeys("", "", keys, error));
  EXPECT_FALSE(keys.Enabled());
  EXPECT_FALSE(LoadClientKeys(server, "", keys, error));
  EXPECT_NE(error.find("--client-key"), std::string::npos);
  EXPECT_FALSE(LoadClientKeys("", client, keys, error));
  EXPECT_NE(error.find("--server-key"), std::string::npos);
  // Our own public key file is not a pair.
  EXPECT_FALSE(LoadClientKeys(server, Write("client.pub", publicKey + "\n"), keys, error));
  EXPECT_NE(error.find("only a public key"), std::string::npos);
  EXPECT_FALSE(LoadClientKeys(File("missing.pub"), client, keys, error));
  EXPECT_NE(error.find("missing.pub"), std::string::npos);
  // A pair whose halves do not belong together.
  EXPECT_FALSE(LoadClientKeys(
      server, Write("mixed.key", "public-key = " + serverPublic + "\nsecret-key = " + secretKey + "\n"), keys, error));
  EXPECT_NE(error.find("does not belong"), std::string::npos);
}

TEST_F(KeyFileTest, ALaterPartTakesTheNextFreeNumber) {
  Write("run-2.csv", "");
  Write("run-3.partial.csv", "");
  int part = 2;
  EXPECT_EQ(NextPartPath(File("run.csv"), part), File("run-4.csv"));
  EXPECT_EQ(part, 4);
}

namespace {

const char kMeta[] = R"({"format": 1, "serial": "VSC1000001", "unique_id": 1, "product": "Quellograph",
 "version": "2.1", "period_us": 2000, "periods_us": [2000, 4000, 10000],
 "channels": [{"position": 1, "name": "ECG", "unit": "mV", "minimum": -5, "maximum": 5, "enabled": true},
              {"position": 2, "name": "Resp", "unit": "", "enabled": false},
              {"position": 3, "name": "Temp", "unit": "\u00b0C", "minimum": 30, "maximum": 42, "enabled": true}],
 "streaming": true, "stream": 3, "later": {"kept": "for a newer reader"},
 "publisher": {"host": "bed-4", "start_unix": 1765300000.25, "start_utc": "2026-12-09T17:06:40.250Z"}})";

std::string Replace(std::string text, const std::string &from, const std::string &to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

}  // namespace

TEST(StreamMeta, ReadsTheDocumentedMessageAndSkipsMembersItDoesNotKnow) {
  StreamMeta m;
  ASSERT_TRUE(ParseStreamMeta(kMeta, m).ok());
  EXPECT_EQ(m.serial, "VSC1000001");
  EXPECT_EQ(m.uniqueId, 1);
  EXPECT_EQ(m.periodUs, 2000);
  EXPECT_EQ(m.periodsUs, (std::vector<std::int64_t>{2000, 4000, 10000}));
  ASSERT_EQ(m.channels.size(), 3u);
  EXPECT_FALSE(m.channels[1].hasRange);
  EXPECT_EQ(m.channels[2].unit,
            "\xc2\xb0"
            "C");
  EXPECT_EQ(m.enabled, (std::vector<std::int32_t>{1, 3}));
  EXPECT_TRUE(m.streaming);
  EXPECT_EQ(m.stream, 3);
  EXPECT_EQ(m.publisherHost, "bed-4");
  EXPECT_DOUBLE_EQ(m.publisherStartUnix, 1765300000.25);
  const std::vector<ChannelInfo> streamed = StreamedChannels(m);
  ASSERT_EQ(streamed.size(), 2u);
  EXPECT_EQ(streamed[1].name, "Temp");
  EXPECT_DOUBLE_EQ(streamed[1].maximum, 42);
}

TEST(StreamMeta, ANewerFormatStopsWithTheVersionTextAndDamageIsRefused) {
  StreamMeta m;
  const vornwire::DecodeResult newer = ParseStreamMeta(Replace(kMeta, "\"format\": 1", "\"format\": 2"), m);
  EXPECT_EQ(newer.status, vornwire::DecodeStatus::NewerVersion);
  EXPECT_EQ(newer.error,
            "the publisher sends stream format 2, this program reads format 1: update it to the publisher's release");
  const std::pair<std::string, std::string> damaged[] = {
      {"\"format\": 1", "\"format\": \"1\""},
      {"\"serial\": \"VSC1000001\"", "\"serial\": \"\""},
      {"\"serial\": \"VSC1000001\"", "\"serial\": 17"},
      {"\"period_us\": 2000", "\"period_us\": 0"},
      {"\"period_us\": 2000", "\"period_us\": -2000"},
      {"\"position\": 2", "\"position\": 1"},
      {"\"position\": 3", "\"position\": 300"},
      {"\"minimum\": 30", "\"minimum\": \"30\""},
      {"\"enabled\": false", "\"enabled\": 0"},
      {"\"streaming\": true", "\"streaming\": 1"},
      {"\"periods_us\": [2000, 4000, 10000]", "\"periods_us\": [2000, -1]"},
      {"\"unique_id\": 1", "\"unique_id\": 99999999999"},
      {"\"host\": \"bed-4\"", "\"host\": [1]"},
  };
  for (const auto &[from, to] : damaged) {
    const vornwire::DecodeResult r = ParseStreamMeta(Replace(kMeta, from, to), m);
    EXPECT_EQ(r.status, vornwire::DecodeStatus::Damaged) << to;
    EXPECT_EQ(r.error.rfind("damaged metadata: ", 0), 0u) << r.error;
  }
  EXPECT_FALSE(ParseStreamMeta("[1,2]", m).ok());
  EXPECT_FALSE(ParseStreamMeta("{\"format\": 1", m).ok());
  std::string many = "{\"format\":1,\"serial\":\"S\",\"period_us\":2000,\"channels\":[";
  for (int p = 1; p <= 300; ++p) many += (p > 1 ? "," : "") + std::string("{\"position\":") + std::to_string(p) + "}";
  EXPECT_FALSE(ParseStreamMeta(many + "]}", m).ok());
  EXPECT_FALSE(ParseStreamMeta(std::string(kMaxMetaBytes + 1, ' '), m).ok());
}

}  // namespace vorn_test
