// serve's pieces that need no network: the loopback rule, key files, the
// ZAP decision, and how a reader's lines become data messages.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zmq.h>

#include <filesystem>
#include <fstream>

#include "tools/vornctl/curve_keys.h"
#include "tools/vornctl/device_publisher.h"
#include "tools/vornctl/net_endpoint.h"
#include "tools/vornctl/serve_controls.h"
#include "tools/vornctl/zap_handler.h"

namespace vornctl {
namespace {

namespace fs = std::filesystem;

TEST(ServeEndpoint, OnlyLoopbackHostsCountAsLoopback) {
  for (const char *host : {"127.0.0.1", "127.8.9.10", "::1", "localhost"}) EXPECT_TRUE(IsLoopbackHost(host)) << host;
  for (const char *host :
       {"0.0.0.0", "*", "eth0", "10.0.0.1", "::", "128.0.0.1", "127.0.0.1.example", "::ffff:10.0.0.1"}) {
    EXPECT_FALSE(IsLoopbackHost(host)) << host;
  }
}

TEST(ServeEndpoint, ParsesTcpEndpointsAndRefusesOthers) {
  std::string error;
  const auto v6 = ParseTcpEndpoint("tcp://[::1]:5650", error);
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->host, "::1");
  EXPECT_TRUE(v6->ipv6);
  EXPECT_EQ(v6->Text(), "tcp://[::1]:5650");
  for (const char *bad : {"ipc:///tmp/x", "tcp://127.0.0.1", "tcp://127.0.0.1:0", "tcp://127.0.0.1:65536",
                          "tcp://:5650", "tcp://::1:5650", "tcp://127.0.0.1:56a"}) {
    EXPECT_FALSE(ParseTcpEndpoint(bad, error)) << bad;
    EXPECT_FALSE(error.empty());
  }
  const auto any = ParseTcpEndpoint("tcp://127.0.0.1:*", error);
  ASSERT_TRUE(any);
  EXPECT_EQ(ControlBeside(*any, error)->port, "*");
  EXPECT_EQ(ControlBeside(*ParseTcpEndpoint("tcp://127.0.0.1:5650", error), error)->port, "5651");
  EXPECT_FALSE(ControlBeside(*ParseTcpEndpoint("tcp://127.0.0.1:65535", error), error));
}

class KeyFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vornctl-keys-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Write(const std::string &name, const std::string &text) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path) << text;
    return path;
  }
  fs::path dir_;
};

TEST_F(KeyFiles, KeygenPairReadsBackAndNeverReplacesAFile) {
  const std::string name = (dir_ / "server").string();
  CurveKeys written;
  std::string error;
  ASSERT_TRUE(WriteKeyPair(name, written, error)) << error;
  struct stat st {};
  ASSERT_EQ(::stat((name + ".key").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  CurveKeys secret, pub;
  ASSERT_TRUE(ReadKeyFile(name + ".key", secret, error)) << error;
  ASSERT_TRUE(ReadKeyFile(name + ".pub", pub, error)) << error;
  EXPECT_EQ(secret.secretKey, written.secretKey);
  EXPECT_EQ(secret.publicKey, written.publicKey);
  EXPECT_EQ(pub.publicKey, written.publicKey);
  EXPECT_TRUE(pub.secretKey.empty());
  std::set<std::string> clients;
  ASSERT_TRUE(ReadClientKeys(name + ".pub", clients, error)) << error;
  EXPECT_EQ(clients, std::set<std::string>{written.publicKey});
  // A second keygen of the same name keeps the first pair whole.
  CurveKeys again;
  EXPECT_FALSE(WriteKeyPair(name, again, error));
  EXPECT_NE(error.find("exists"), std::string::npos) << error;
  ASSERT_TRUE(ReadKeyFile(name + ".key", secret, error));
  EXPECT_EQ(secret.secretKey, written.secretKey);
}

TEST_F(KeyFiles, DamagedOrMismatchedKeysAreRefusedWithTheFileNamed) {
  char pubA[41], secA[41], pubB[41], secB[41];
  ASSERT_EQ(zmq_curve_keypair(pubA, secA), 0);
  ASSERT_EQ(zmq_curve_keypair(pubB, secB), 0);
  CurveKeys keys;
  std::string error;
  const std::string mixed = Write("mixed.key", std::string("public-key = ") + pubB + "\nsecret-key = " + secA + "\n");
  EXPECT_FALSE(ReadKeyFile(mixed, keys, error));
  EXPECT_NE(error.find("does not belong"), std::string::npos) << error;
  EXPECT_FALSE(ReadKeyFile(Write("short.pub", "abc\n"), keys, error));
  EXPECT_FALSE(ReadKeyFile(Write("empty.pub", "# nothing\n"), keys, error));
  EXPECT_FALSE(ReadKeyFile((dir_ / "missing.pub").string(), keys, error));
  EXPECT_NE(error.find("missing.pub"), std::string::npos) << error;
  // A secret key in the clients' list was never meant to leave its owner.
  std::set<std::string> clients;
  EXPECT_FALSE(ReadClientKeys(Write("clients", std::string(pubA) + "\nsecret-key = " + secB + "\n"), clients, error));
  EXPECT_NE(error.find("secret"), std::string::npos) << error;
  EXPECT_FALSE(ReadClientKeys(Write("none", "# nobody yet\n\n"), clients, error));
  ASSERT_TRUE(ReadClientKeys(Write("two", std::string("# ward\n") + pubA + "\n\n  " + pubB + "  \n"), clients, error));
  EXPECT_EQ(clients.size(), 2u);
}

TEST(ServeZap, AdmitsListedCurveKeysOnly) {
  char pub[41], sec[41];
  ASSERT_EQ(zmq_curve_keypair(pub, sec), 0);
  std::string raw(32, '\0');
  zmq_z85_decode(reinterpret_cast<std::uint8_t *>(raw.data()), pub);
  const std::vector<std::string> request = {"1.0", "7", "vorn", "10.1.2.3", "", "CURVE", raw};
  const ZapDecision admitted = DecideZap(request, {pub});
  EXPECT_TRUE(admitted.admit);
  EXPECT_EQ(admitted.reply[1], "7");
  EXPECT_EQ(admitted.reply[2], "200");
  const ZapDecision refused = DecideZap(request, {});
  EXPECT_FALSE(refused.admit);
  EXPECT_EQ(refused.reply[2], "400");
  EXPECT_EQ(refused.clientKey, pub);
  EXPECT_EQ(refused.address, "10.1.2.3");
  EXPECT_FALSE(DecideZap({"1.0", "8", "vorn", "a", "", "NULL"}, {pub}).admit);
  EXPECT_FALSE(DecideZap({"1.0", "9", "vorn", "a", "", "CURVE", "short"}, {pub}).admit);
  EXPECT_EQ(DecideZap({"2.0"}, {pub}).reply[2], "500");
}

// A reader that never streams: the consumer needs only its identity.
struct IdleReader {
  vorn_host::VornLibrary lib;
  DeviceReader reader{lib, 0, Description(), "", "."};
  static DeviceDescription Description() {
    DeviceDescription d;
    d.identity.serial = "1000001";
    d.channels = {ChannelInfo{1, "A", "mV", true, -5, 5, ""}, ChannelInfo{2, "B", "", true, 0, 100, ""}};
    d.periodsUs = {2000};
    return d;
  }
};

LineBatch Batch(std::uint32_t stream, std::vector<std::int64_t> samples, std::vector<std::int32_t> values,
                std::chrono::steady_clock::time_point at) {
  LineBatch b;
  b.stream = stream;
  b.periodUs = 2000;
  b.channels = 2;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    std::vector<std::int32_t> row(values.begin() + 2 * i, values.begin() + 2 * i + 2);
    b.Add(at, samples[i], row[0] == -1 ? nullptr : &row);
  }
  return b;
}

std::vector<vornwire::DataMessage> Published(PublishQueue &queue) {
  std::deque<Outgoing> items;
  queue.TakeAll(items);
  std::vector<vornwire::DataMessage> out;
  for (const Outgoing &item : items) {
    if (item.kind != Outgoing::Kind::Data) continue;
    vornwire::DataMessage m;
    EXPECT_TRUE(vornwire::DecodeData(item.payload.data(), item.payload.size(), m).ok());
    out.push_back(m);
  }
  return out;
}

TEST(DevicePublisher, ARunOfIndexesIsOneMessageAndAGapOrNewStreamBeginsAnother) {
  IdleReader idle;
  PublishQueue queue;
  PublisherInfo info = PublisherInfo::Now();
  DevicePublisher publisher(0, queue, info);
  // Lines from the future: however slow this machine, only the gap and the
  // new stream split the messages, never the time window.
  const auto t0 = std::chrono::steady_clock::now() + std::chrono::hours(1);
  // Rows 0..1, a gap of 3 sets, rows 5..6 (one damaged, one out of range), then a new stream.
  publisher.Lines(idle.reader, Batch(1, {0, 1, 5}, {10, 20, 11, 21, 12, 22}, t0));
  publisher.Lines(idle.reader, Batch(1, {6, 7}, {-1, 0, 40000, 5}, t0));
  publisher.Lines(idle.reader, Batch(2, {0}, {32767, 0}, t0));
  publisher.Changed(idle.reader);  // sends what it holds
  const std::vector<vornwire::DataMessage> m = Published(queue);
  ASSERT_EQ(m.size(), 3u);
  for (std::size_t i = 0; i < m.size(); ++i) {
    EXPECT_EQ(m[i].header.sequence, i);
    EXPECT_EQ(m[i].header.serial, "1000001");
    EXPECT_EQ(m[i].header.channels, 2);
    EXPECT_EQ(m[i].header.periodUs, 2000u);
  }
  EXPECT_EQ(m[0].header.firstSample, 0u);
  EXPECT_EQ(m[0].values, (std::vector<std::uint16_t>{10, 20, 11, 21}));
  EXPECT_EQ(m[1].header.firstSample, 5u);
  EXPECT_EQ(m[1].header.rows, 3u);
  EXPECT_EQ(m[1].malformed, (std::vector<std::uint8_t>{0, 1, 1}));
  EXPECT_EQ(m[1].values, (std::vector<std::uint16_t>{12, 22, 0, 0, 0, 0}));
  EXPECT_EQ(m[2].header.firstSample, 0u);
  EXPECT_EQ(m[2].values, (std::vector<std::uint16_t>{32767, 0}));
  EXPECT_GT(m[0].header.firstHostUs, 3500ll * 1000000);
}

TEST(DevicePublisher, AFullQueueDropsDataButKeepsItsNumberAndTheMetadata) {
  IdleReader idle;
  PublishQueue queue;
  PublisherInfo info = PublisherInfo::Now();
  DevicePublisher publisher(0, queue, info);
  const auto old = std::chrono::steady_clock::now() - std::chrono::seconds(1);
  const std::size_t total = PublishQueue::kMaxItems + 5;
  for (std::size_t i = 0; i < total; ++i) {
    publisher.Lines(idle.reader, Batch(1, {static_cast<std::int64_t>(i)}, {1, 2}, old));
  }
  EXPECT_EQ(publisher.Sequence(), total);
  EXPECT_EQ(publisher.Dropped(), 5);
  publisher.Changed(idle.reader);
  std::deque<Outgoing> items;
  queue.TakeAll(items);
  ASSERT_EQ(items.size(), PublishQueue::kMaxItems + 1);
  EXPECT_EQ(items.back().kind, Outgoing::Kind::Meta);
  EXPECT_NE(items.back().payload.find("\"serial\":\"1000001\""), std::string::npos);
}

TEST(ServeControls, AHoldRefusesChangesUntilReleasedOrExpiredAndWrongRequestsAreRefused) {
  IdleReader idle;
  ServeControls controls({&idle.reader});
  std::vector<nlohmann::json> replies;
  auto ask = [&](const std::string &request, ServeControls::Clock::time_point at) {
    controls.Handle(
        request, [&](std::string text) { replies.push_back(nlohmann::json::parse(text)); }, at);
    return replies.back();
  };
  const auto t0 = ServeControls::Clock::now();
  EXPECT_EQ(ask(R"({"id":1,"device":"1000001","action":"hold","holder":"ward-pc"})", t0)["status"], 200);
  for (const char *change : {R"({"id":"x","device":"1000001","action":"stop"})",
                             R"({"id":"x","device":"1000001","action":"channels","channels":[1]})",
                             R"({"id":"x","device":"1000001","action":"period","periodUs":2000})"}) {
    const nlohmann::json r = ask(change, t0 + std::chrono::seconds(4));
    EXPECT_EQ(r["status"], 409) << change;
    EXPECT_EQ(r["id"], "x");
    EXPECT_NE(r["error"].get<std::string>().find("being recorded by ward-pc"), std::string::npos) << r;
  }
  // Past its life the hold is gone: the stopped device takes the change.
  EXPECT_EQ(
      ask(R"({"id":2,"device":"1000001","action":"channels","channels":[2]})", t0 + std::chrono::seconds(6))["status"],
      200);
  EXPECT_EQ(ask(R"({"id":3,"device":"1000001","action":"hold","holder":"a"})", t0)["status"], 200);
  EXPECT_EQ(ask(R"({"id":4,"device":"1000001","action":"release","holder":"a"})", t0)["status"], 200);
  EXPECT_EQ(ask(R"({"id":5,"device":"1000001","action":"channels","channels":[1,2]})", t0)["status"], 200);
  EXPECT_EQ(ask(R"({"id":6,"device":"1000001","action":"channels","channels":[3]})", t0)["status"], 400);
  EXPECT_EQ(ask(R"({"id":7,"device":"VSC9","action":"start"})", t0)["status"], 404);
  EXPECT_EQ(ask(R"({"id":8,"device":"1000001","action":"record"})", t0)["status"], 400);
  EXPECT_EQ(ask(R"({"id":9,"device":"1000001","action":"hold"})", t0)["status"], 400);
  EXPECT_EQ(ask(R"({"id":10,"device":"1000001"})", t0)["status"], 400);
  EXPECT_EQ(ask("[1,2]", t0)["status"], 400);
  EXPECT_EQ(ask(std::string(5000, ' '), t0)["status"], 413);
  const nlohmann::json all = ask(R"({"id":11,"action":"devices"})", t0);
  ASSERT_EQ(all["devices"].size(), 1u);
  EXPECT_EQ(all["devices"][0]["serial"], "1000001");
  idle.reader.Shutdown();
}

}  // namespace
}  // namespace vornctl
