// A publisher's stream recorded: rows, times and values as the messages say,
// and every kind of discontinuity a gap of the right size and reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/vornctl/remote_recording.h"

namespace vorn_test {

using namespace vornctl;

namespace {

constexpr std::int64_t kPeriodUs = 2000;

// Every call a recording makes on its outputs, in order.
struct CaptureSink : SampleSink {
  struct Row {
    bool damaged;
    std::vector<std::int32_t> values;
    double host;
  };
  RecordingHeader header;
  bool started = false;
  std::vector<Row> rows;
  std::vector<std::pair<std::size_t, std::int64_t>> gaps;  // before row, sets
  std::vector<std::string> reasons;
  bool finished = false;

  bool Begin(const RecordingHeader &h, std::string &) override {
    header = h;
    return true;
  }
  bool Start(const RecordingHeader &h, std::string &) override {
    header = h;
    started = true;
    return true;
  }
  bool Add(const std::vector<std::int32_t> *values, double host, std::string &) override {
    rows.push_back({values == nullptr, values ? *values : std::vector<std::int32_t>{}, host});
    return true;
  }
  bool Gap(std::int64_t sets, const std::string &reason, std::string &) override {
    gaps.emplace_back(rows.size(), sets);
    reasons.push_back(reason);
    return true;
  }
  bool Finish(const RecordingSummary &, std::string &) override {
    finished = true;
    return true;
  }
};

StreamMeta Meta(double startUnix = 1765300000.25) {
  StreamMeta m;
  m.serial = "VSC1000001";
  m.uniqueId = 7;
  m.product = "Quellograph";
  m.version = "2.1";
  m.periodUs = kPeriodUs;
  m.periodsUs = {2000, 5000};
  for (int p = 1; p <= 3; ++p) {
    ChannelInfo c;
    c.position = p;
    c.name = "C" + std::to_string(p);
    c.unit = "mV";
    c.hasRange = true;
    c.minimum = -5;
    c.maximum = 5;
    m.channels.push_back(c);
  }
  m.enabled = {1, 3};
  m.streaming = true;
  m.stream = 1;
  m.publisherStartUnix = startUnix;
  return m;
}

// rows sets of 2 channels from firstSample; values 10*index+channel; host
// times one period apart from firstHostUs.
vornwire::DataMessage Data(std::uint64_t sequence, std::uint64_t firstSample, std::uint32_t rows,
                           std::int64_t firstHostUs) {
  vornwire::DataMessage m;
  m.header.serial = "VSC1000001";
  m.header.sequence = sequence;
  m.header.firstSample = firstSample;
  m.header.rows = rows;
  m.header.channels = 2;
  m.header.periodUs = kPeriodUs;
  m.header.firstHostUs = firstHostUs;
  m.header.lastHostUs = firstHostUs + (rows ? (rows - 1) * kPeriodUs : 0);
  m.malformed.assign(rows, 0);
  for (std::uint32_t r = 0; r < rows; ++r) {
    for (int c = 0; c < 2; ++c) m.values.push_back(static_cast<std::uint16_t>((10 * (firstSample + r) + c) % 32768));
  }
  return m;
}

struct Fixture {
  explicit Fixture(std::int64_t maxSets = 0, StreamMeta m = Meta())
      : meta(std::move(m)), recording(meta, RecordingHeader{}, {&sink}, maxSets) {
    std::string error;
    EXPECT_TRUE(recording.Begin(error)) << error;
  }
  RemoteRecording::Result Add(const vornwire::DataMessage &m) {
    std::string error;
    return recording.Add(m, meta, error);
  }
  StreamMeta meta;
  CaptureSink sink;
  RemoteRecording recording;
};

}  // namespace

TEST(RemoteRecording, RowsKeepTheirValuesOrderAndThePublishersTimes) {
  Fixture f;
  vornwire::DataMessage first = Data(5, 100, 10, 3000000);
  first.malformed[4] = 1;
  // Rows of one message read together: spread between its first and last line.
  first.header.lastHostUs = first.header.firstHostUs + 90000;
  EXPECT_EQ(f.Add(first), RemoteRecording::Result::Taken);
  EXPECT_EQ(f.Add(Data(6, 110, 10, 3100000)), RemoteRecording::Result::Taken);

  ASSERT_TRUE(f.sink.started);
  const RecordingHeader &h = f.sink.header;
  EXPECT_EQ(h.identity.serial, "VSC1000001");
  ASSERT_EQ(h.channels.size(), 2u);
  EXPECT_EQ(h.channels[0].name, "C1");
  EXPECT_EQ(h.channels[1].name, "C3");
  EXPECT_EQ(h.periodUs, kPeriodUs);
  // The start is the first row's time by the publisher's clock.
  EXPECT_EQ(h.startTime, 1765300003);
  EXPECT_EQ(h.startMilliseconds, 250);
  EXPECT_NEAR(h.monotonicStart, 1765300003.25, 1e-6);

  ASSERT_EQ(f.sink.rows.size(), 20u);
  EXPECT_TRUE(f.sink.gaps.empty());
  for (std::size_t i = 0; i < 20; ++i) {
    const auto &row = f.sink.rows[i];
    if (i == 4) {
      EXPECT_TRUE(row.damaged);
      continue;
    }
    ASSERT_FALSE(row.damaged) << i;
    EXPECT_EQ(row.values, (std::vector<std::int32_t>{static_cast<std::int32_t>(10 * (100 + i)),
                                                     static_cast<std::int32_t>(10 * (100 + i) + 1)}));
  }
  EXPECT_DOUBLE_EQ(f.sink.rows[0].host, 0.0);
  EXPECT_NEAR(f.sink.rows[9].host, 0.090, 1e-9);
  EXPECT_NEAR(f.sink.rows[5].host, 0.050, 1e-9);
  EXPECT_NEAR(f.sink.rows[10].host, 0.100, 1e-9);

  std::string error;
  ASSERT_TRUE(f.recording.Finish(false, "", error));
  EXPECT_TRUE(f.sink.finished);
  EXPECT_EQ(f.recording.Summary().samples, 20);
  EXPECT_EQ(f.recording.Summary().dropped, 1);
  EXPECT_EQ(f.recording.Summary().gaps, 0);
  EXPECT_EQ(f.recording.Summary().missing, 0);
}

TEST(RemoteRecording, LostMessagesAndThePublishersOwnLossesAreGapsOfTheSampleIndexJump) {
  Fixture f;
  f.Add(Data(0, 0, 10, 0));
  // Messages 1 and 2 never came: the sample index says 20 sets.
  f.Add(Data(3, 30, 10, 60000));
  // The sequence goes on but the index jumps: the publisher lost 15 sets.
  f.Add(Data(4, 55, 10, 110000));
  // Empty messages move the sequence, not the index.
  f.Add(Data(5, 65, 0, 130000));
  f.Add(Data(6, 65, 10, 130000));
  ASSERT_EQ(f.sink.gaps.size(), 2u);
  EXPECT_EQ(f.sink.gaps[0], (std::pair<std::size_t, std::int64_t>{10, 20}));
  EXPECT_EQ(f.sink.reasons[0], "sequence");
  EXPECT_EQ(f.sink.gaps[1], (std::pair<std::size_t, std::int64_t>{20, 15}));
  EXPECT_EQ(f.sink.reasons[1], "publisher");
  EXPECT_EQ(f.recording.Sets(), 75);
  // The rows after a gap are the ones sent, untouched.
  EXPECT_EQ(f.sink.rows[10].values[0], 300);
  EXPECT_EQ(f.sink.rows[20].values[0], 550);
  std::string error;
  f.recording.Finish(false, "", error);
  EXPECT_EQ(f.recording.Summary().gaps, 2);
  EXPECT_EQ(f.recording.Summary().gapSets, 35);
  EXPECT_EQ(f.recording.Summary().missing, 0);
}

TEST(RemoteRecording, ARestartedPublisherOrStreamIsAGapByTheClockAndTheRecordingGoesOn) {
  Fixture f;
  f.Add(Data(40, 4000, 10, 10000000));  // last row at start + 10.018 s
  // The publisher restarts 3 s later by its clock: its sequence and index
  // begin at 0. Until its metadata has come its rows cannot be placed.
  StreamMeta restarted = Meta(1765300010.25);
  EXPECT_EQ(f.Add(Data(0, 0, 10, 2000000)), RemoteRecording::Result::Skipped);
  f.meta = restarted;
  // First row after: start + 8 s + 2.002 s = start + 10.002 + 0.018... by Unix time:
  // old last row 1765300010.268, new first row 1765300012.252.
  EXPECT_EQ(f.Add(Data(1, 10, 10, 2002000)), RemoteRecording::Result::Taken);
  ASSERT_EQ(f.sink.gaps.size(), 1u);
  EXPECT_EQ(f.sink.reasons[0], "restart");
  EXPECT_EQ(f.sink.gaps[0].first, 10u);
  EXPECT_EQ(f.sink.gaps[0].second, 991);  // round(1.984 s / 2 ms) - 1
  // Host time stays on one axis across the two publisher runs.
  EXPECT_NEAR(f.sink.rows[10].host, 1765300012.252 - 1765300010.250, 1e-6);

  // On the same publisher, a stream that was stopped and started again.
  f.Add(Data(2, 0, 10, 2502000));
  ASSERT_EQ(f.sink.gaps.size(), 2u);
  EXPECT_EQ(f.sink.reasons[1], "stopped");
  EXPECT_EQ(f.sink.gaps[1].second, 249 - 9);  // (2.502 - 2.020) s / 2 ms - 1
  EXPECT_EQ(f.sink.rows.size(), 30u);
}

TEST(RemoteRecording, TheSetsAskedForEndItExactlyAndAGapIsCutAtTheEnd) {
  Fixture f(25);
  EXPECT_EQ(f.Add(Data(0, 0, 10, 0)), RemoteRecording::Result::Taken);
  EXPECT_EQ(f.Add(Data(9, 1000, 10, 2000000)), RemoteRecording::Result::Full);
  ASSERT_EQ(f.sink.gaps.size(), 1u);
  EXPECT_EQ(f.sink.gaps[0].second, 15);  // of 990, up to the end
  EXPECT_EQ(f.sink.rows.size(), 10u);
  EXPECT_EQ(f.recording.Sets(), 25);

  Fixture g(15);
  g.Add(Data(0, 0, 10, 0));
  EXPECT_EQ(g.Add(Data(1, 10, 10, 20000)), RemoteRecording::Result::Full);
  EXPECT_EQ(g.sink.rows.size(), 15u);
  EXPECT_EQ(g.Add(Data(2, 20, 10, 40000)), RemoteRecording::Result::Full);
  EXPECT_EQ(g.sink.rows.size(), 15u);
}

TEST(RemoteRecording, AnotherLayoutNeverGoesIntoTheSameFile) {
  Fixture f;
  StreamMeta other = Meta();
  other.enabled = {1, 2, 3};
  EXPECT_FALSE(f.recording.Fits(other));
  other = Meta();
  other.periodUs = 5000;
  EXPECT_FALSE(f.recording.Fits(other));
  other = Meta();
  other.channels[2].maximum = 10;
  EXPECT_FALSE(f.recording.Fits(other));
  other = Meta();
  other.streaming = false;
  other.stream = 9;
  EXPECT_TRUE(f.recording.Fits(other));
  // Data that disagrees with the metadata is not guessed at.
  vornwire::DataMessage three = Data(0, 0, 4, 0);
  three.header.channels = 3;
  three.values.resize(12);
  EXPECT_EQ(f.Add(three), RemoteRecording::Result::Skipped);
  vornwire::DataMessage slower = Data(0, 0, 4, 0);
  slower.header.periodUs = 5000;
  EXPECT_EQ(f.Add(slower), RemoteRecording::Result::Skipped);
  EXPECT_TRUE(f.sink.rows.empty());
  EXPECT_FALSE(f.sink.started);
}

}  // namespace vorn_test
