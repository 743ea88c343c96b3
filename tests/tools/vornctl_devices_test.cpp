// Several devices in one run, a device that comes back, a device named by
// its serial text, and the JSON forms; every recording checked against what
// the simulators logged as sent.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/sim_process.h"
#include "vornctl_mne_check.h"
#include "vornctl_recording_check.h"
#include "vornctl_run.h"
#include "vornctl_scratch_test.h"

namespace vorn_test {
namespace {

namespace fs = std::filesystem;

const std::vector<ExpectedChannel> kChannels = {
    {"ECG", "mV", -5, 5}, {"Resp", "l/min", 0, 60}, {"SpO2", "%", 0, 100}, {"Temp", "degC", 30, 42}};

// The driver's scaling of one value, as the host line carries it.
long Scaled(const std::string &field, const ExpectedChannel &c) {
  double x = std::strtod(field.c_str(), nullptr);
  x = std::clamp(x, c.minimum, c.maximum);
  const float range = static_cast<float>(c.maximum - c.minimum);
  const float t = static_cast<float>((x - c.minimum) / range);
  return static_cast<long>(std::floor(static_cast<double>(t) * 32767.0 + 0.5));
}

std::vector<std::vector<long>> SentRaw(const std::string &sentLog) {
  std::vector<std::vector<long>> lines;
  std::ifstream in(sentLog);
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> fields = SplitCsvLine(line);
    if (fields.size() != 1 + kChannels.size()) continue;
    std::vector<long> raw;
    for (std::size_t c = 0; c < kChannels.size(); ++c) raw.push_back(Scaled(fields[1 + c], kChannels[c]));
    lines.push_back(raw);
  }
  return lines;
}

bool RowMatches(const std::vector<std::string> &row, const std::vector<long> &sent) {
  for (std::size_t c = 0; c < sent.size(); ++c) {
    if (std::labs(std::strtol(row[2 + 2 * c].c_str(), nullptr, 10) - sent[c]) > 1) return false;
  }
  return true;
}

// Rows first..last of the CSV are consecutive lines the simulator sent.
void ExpectRowsWereSent(const CsvRecording &csv, std::size_t first, std::size_t last, const std::string &sentLog) {
  const std::vector<std::vector<long>> sent = SentRaw(sentLog);
  ASSERT_LT(first, last);
  for (std::size_t start = 0; start + (last - first) <= sent.size(); ++start) {
    bool all = true;
    for (std::size_t r = first; r < last && all; ++r) all = RowMatches(csv.rows[r], sent[start + r - first]);
    if (all) return;
  }
  ADD_FAILURE() << "rows " << first << ".." << last << " are not a run of the " << sent.size() << " lines in "
                << sentLog;
}

class DevicesTest : public vorn_test::ScratchFolderTest {
 protected:
  DevicesTest() : ScratchFolderTest("vornctl-devices-test") {}
  std::vector<std::string> Files(const std::string &prefix) const {
    std::vector<std::string> found;
    for (const auto &e : fs::directory_iterator(dir_)) {
      if (e.path().filename().string().rfind(prefix, 0) == 0) found.push_back(e.path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }
};

TEST_F(DevicesTest, AllDevicesRecordIntoTheirOwnFilesOnOneClock) {
  // Serials whose driver identifiers are the same: the serial text tells the devices apart.
  vorn_test::SimProcess first({"--serial", "VSC1000001", "--sent-log", File("first.sent")});
  vorn_test::SimProcess second({"--serial", "VSC1000002", "--sent-log", File("second.sent")});
  ASSERT_TRUE(first.ok() && second.ok());
  RunOptions options;
  options.environment = {"VORN_PORTS=" + first.PortEntry() + ";" + second.PortEntry()};
  const RunResult run =
      RunVornctl({"record", "--all", "--seconds", "1", "--out", File("run.csv"), "--no-progress"}, options);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<std::string> files = Files("run-");
  ASSERT_EQ(files.size(), 2u) << run.err;
  std::vector<double> starts;
  std::vector<std::string> ids;
  for (std::size_t d = 0; d < 2; ++d) {
    EXPECT_NE(files[d].find(d == 0 ? "run-1000001-" : "run-1000002-"), std::string::npos) << files[d];
    const CsvRecording csv = ReadCsv(files[d]);
    CheckRecording(csv, kChannels, 0.002);
    ASSERT_EQ(csv.rows.size(), 500u) << files[d];
    EXPECT_EQ(csv.Comment("serial"), d == 0 ? "1000001" : "1000002") << files[d];
    ids.push_back(csv.Comment("unique id"));
    // Each file's host time starts at its first line; the monotonic start
    // puts both on the host's one clock.
    EXPECT_EQ(csv.rows[0][1], "0.000000");
    starts.push_back(std::strtod(csv.Comment("monotonic start [s]").c_str(), nullptr));
    ExpectRowsWereSent(csv, 0, csv.rows.size(), File(d == 0 ? "first.sent" : "second.sent"));
  }
  EXPECT_EQ(ids[0], ids[1]) << "the identifiers these serials give are the same";
  EXPECT_GT(starts[0], 0);
  EXPECT_LT(std::abs(starts[0] - starts[1]), 2.0);
  // Named devices, by index and by serial text, record the same way.
  const RunResult named =
      RunVornctl({"record", "1", "1000001", "--seconds", "0.2", "--out", File("named.csv"), "--no-progress"}, options);
  ASSERT_EQ(named.exitCode, 0) << named.err;
  EXPECT_EQ(Files("named-").size(), 2u);
  EXPECT_EQ(RunVornctl({"record", "0", "0", "--out", File("twice.csv")}, options).exitCode, 2);
  // A device's own file is checked as soon as its name is known, before anything streams.
  const RunResult again =
      RunVornctl({"record", "--all", "--seconds", "0.2", "--out", File("run.csv"), "--no-progress"}, options);
  EXPECT_EQ(again.exitCode, 2);
  EXPECT_NE(again.err.find("run-1000001-0.csv exists"), std::string::npos) << again.err;
  EXPECT_EQ(RunVornctl({"record", "--all", "--out", "-"}, options).exitCode, 2);
}

TEST_F(DevicesTest, ReconnectingRecordingGoesOnIntoTheSameFilesWithTrueTimeAcrossEachGap) {
  const std::string link = File("tty");
  vorn_test::SimProcess sim({"--fault", "vanish-each=400", "--vanish-action", "reopen", "--reopen-delay-ms", "300",
                             "--link", link, "--sent-log", File("sim.sent")});
  ASSERT_TRUE(sim.ok());
  RunOptions options;
  options.environment = {"VORN_PORTS=" + sim.serial() + "=" + link};
  options.timeoutMs = 90000;
  // 1950 sample sets of time: rows and gaps together, as long as the device's clock says.
  const RunResult run = RunVornctl({"record", "0", "--reconnect", "--seconds", "3.9", "--out", File("run.csv"), "--out",
                                    File("run.edf"), "--no-progress"},
                                   options);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("looking for"), std::string::npos) << run.err;
  const CsvRecording csv = ReadCsv(File("run.csv"));
  // The sample time jumps by each gap's sets (CheckRecording follows the GAP notes).
  CheckRecording(csv, kChannels, 0.002);
  ASSERT_GE(csv.notes.size(), 2u) << run.err;
  ASSERT_GE(csv.rows.size(), 800u) << run.err;
  std::int64_t gapSets = 0;
  for (std::size_t n = 0; n < csv.notes.size(); ++n) {
    const std::string &note = csv.notes[n];
    gapSets += GapSets(note);
    EXPECT_EQ(note.rfind("GAP: start ", 0), 0u) << note;
    EXPECT_NE(note.find(", reason reconnect"), std::string::npos) << note;
    // 0.3 s without a port, and the search; a gap at the very end is cut there.
    if (csv.noteRows[n] < csv.rows.size()) EXPECT_GT(GapSets(note), 100) << note;
  }
  // The last gap may reach the end and is then cut there.
  EXPECT_EQ(static_cast<std::int64_t>(csv.rows.size()) + gapSets, 1950);
  // Sample time and host time agree at the end, as they did at the start:
  // the gaps are in the time axis, not lost from it.
  const double sampleEnd = std::strtod(csv.rows.back()[0].c_str(), nullptr);
  const double hostEnd = std::strtod(csv.rows.back()[1].c_str(), nullptr);
  EXPECT_NEAR(sampleEnd, hostEnd, 0.5) << run.err;
  EXPECT_EQ(csv.rows.front()[1], "0.000000");
  EXPECT_NE(run.err.find(std::to_string(csv.notes.size()) + " gap(s) of "), std::string::npos) << run.err;
  // Each stretch between reconnections is a run of what the device sent.
  ExpectRowsWereSent(csv, 0, 400, File("sim.sent"));
  ExpectRowsWereSent(csv, 400, 800, File("sim.sent"));

  // Without --reconnect the same fault ends the recording.
  vorn_test::SimProcess once({"--fault", "vanish-each=400"});
  ASSERT_TRUE(once.ok());
  options.environment = {"VORN_PORTS=" + once.PortEntry()};
  const RunResult ended =
      RunVornctl({"record", "0", "--seconds", "1.5", "--out", File("once.csv"), "--no-progress"}, options);
  EXPECT_EQ(ended.exitCode, 1);
  EXPECT_NE(ended.err.find("went away after 0.8 s of data"), std::string::npos) << ended.err;

  // MNE reads the EDF+ on the same time axis, one bad span per gap left out of analysis.
  MneReading mne = ReadWithMne(File("run.edf"));
  if (mne.status == 77) GTEST_SKIP() << mne.output;
  ASSERT_EQ(mne.status, 0) << mne.output;
  // 3.9 s of sample sets in whole records of 1 s.
  EXPECT_NEAR(mne.Number("duration"), 4.0, 1e-6) << mne.output;
  EXPECT_GE(mne.Number("duration"), hostEnd);
  // The gaps, and the padding of the last record.
  EXPECT_EQ(mne.Number("bad"), static_cast<double>(csv.notes.size() + 1)) << mne.output;
  EXPECT_EQ(mne.Number("good_samples"), static_cast<double>(csv.rows.size())) << mne.output;
  const std::string spans = mne.values["bad_spans"];
  char expected[64];
  std::snprintf(expected, sizeof expected, "%.6f+", std::strtod(csv.notes[0].c_str() + 11, nullptr));
  EXPECT_EQ(spans.rfind(expected, 0), 0u) << spans << " vs " << csv.notes[0];
}

TEST_F(DevicesTest, ReconnectionFindsTheDeviceBySerialAmongDevicesSharingItsIdentifier) {
  const std::string link = File("tty");
  vorn_test::SimProcess moving({"--serial", "VSC1000001", "--fault", "vanish-each=300", "--vanish-action", "reopen",
                                "--reopen-delay-ms", "300", "--link", link});
  vorn_test::SimProcess other({"--serial", "VSC1000002"});
  ASSERT_TRUE(moving.ok() && other.ok());
  RunOptions options;
  // The other device comes first in discovery and gives the same identifier.
  options.environment = {"VORN_PORTS=" + other.PortEntry() + ";" + moving.serial() + "=" + link};
  options.timeoutMs = 60000;
  const RunResult run = RunVornctl(
      {"record", "1000001", "--reconnect", "--seconds", "1", "--out", File("run.csv"), "--no-progress"}, options);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const CsvRecording csv = ReadCsv(File("run.csv"));
  CheckRecording(csv, kChannels, 0.002);
  EXPECT_EQ(csv.Comment("serial"), "1000001");
  ASSERT_GE(csv.notes.size(), 1u) << run.err;
  std::int64_t sets = static_cast<std::int64_t>(csv.rows.size());
  for (const std::string &note : csv.notes) sets += GapSets(note);
  EXPECT_EQ(sets, 500) << "one second of the device's time, rows and gaps together";
}

TEST_F(DevicesTest, LinesLostWhileVornctlFellBehindAreAGapOnTheTimeAxis) {
  vorn_test::SimProcess sim({"--sent-log", File("sim.sent")});
  ASSERT_TRUE(sim.ok());
  RunOptions options;
  options.environment = {"VORN_PORTS=" + sim.PortEntry()};
  // Nobody reads vornctl's stdout for 12 s: its writes block, the driver's
  // receive ring fills (about 5 s of lines) and the device's later lines are lost.
  options.stdoutPauseMs = 12000;
  options.timeoutMs = 90000;
  // Long enough to go on after the gap: the time counts the lost sets too.
  const RunResult run = RunVornctl({"record", "0", "--seconds", "20", "--out", "-", "--no-progress"}, options);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::ofstream(File("run.csv")) << run.out;
  const CsvRecording csv = ReadCsv(File("run.csv"));
  CheckRecording(csv, kChannels, 0.002);
  ASSERT_EQ(csv.notes.size(), 1u) << run.err;
  EXPECT_NE(csv.notes[0].find(", reason lost"), std::string::npos) << csv.notes[0];
  EXPECT_GT(GapSets(csv.notes[0]), 500) << csv.notes[0];
  EXPECT_NE(run.err.find("never reached vornctl; the files mark the gap"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("fell silent"), std::string::npos) << run.err;
  // Before the gap and after it, runs of what the device sent; at the end sample and host time agree.
  const std::size_t at = csv.noteRows[0];
  ExpectRowsWereSent(csv, 0, at, File("sim.sent"));
  ExpectRowsWereSent(csv, at, csv.rows.size(), File("sim.sent"));
  const double sampleEnd = std::strtod(csv.rows.back()[0].c_str(), nullptr);
  const double hostEnd = std::strtod(csv.rows.back()[1].c_str(), nullptr);
  EXPECT_NEAR(sampleEnd, hostEnd, 0.5);
}

TEST_F(DevicesTest, ListAndInfoSpeakJsonAndInfoTakesASerialText) {
  vorn_test::SimProcess sim({"--serial", "VSC0000042"});
  ASSERT_TRUE(sim.ok());
  RunOptions options;
  options.environment = {"VORN_PORTS=" + sim.PortEntry()};
  const RunResult list = RunVornctl({"list", "--json"}, options);
  ASSERT_EQ(list.exitCode, 0) << list.err;
  EXPECT_EQ(list.out.rfind("{\"devices\": [", 0), 0u) << list.out;
  EXPECT_NE(list.out.find("\"index\": 0, \"serial\": \"0000042\""), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("\"state\": \"ok\""), std::string::npos) << list.out;
  const RunResult info = RunVornctl({"info", "0000042", "--json"}, options);
  ASSERT_EQ(info.exitCode, 0) << info.err;
  for (const char *text : {"\"channels\": [", "\"name\": \"ECG\", \"unit\": \"mV\", \"minimum\": -5, \"maximum\": 5",
                           "\"periods_us\": [", "\"control_list_bytes\": "}) {
    EXPECT_NE(info.out.find(text), std::string::npos) << text << "\n" << info.out;
  }
  // A channel without unit or limits ("na") keeps the later channels' units in place.
  vorn_test::SimProcess na({"--profile", "na"});
  ASSERT_TRUE(na.ok());
  RunOptions naOptions;
  naOptions.environment = {"VORN_PORTS=" + na.PortEntry()};
  const RunResult naInfo = RunVornctl({"info", "0", "--json"}, naOptions);
  ASSERT_EQ(naInfo.exitCode, 0) << naInfo.err;
  EXPECT_NE(naInfo.out.find("\"name\": \"Marker\", \"unit\": \"\""), std::string::npos) << naInfo.out;
  EXPECT_NE(naInfo.out.find("\"name\": \"Flow\", \"unit\": \"ml/s\""), std::string::npos) << naInfo.out;
  EXPECT_NE(naInfo.out.find("\"name\": \"Pulse\", \"unit\": \"\", \"minimum\": 20, \"maximum\": 250"),
            std::string::npos)
      << naInfo.out;
  EXPECT_EQ(naInfo.err.find("na"), std::string::npos) << naInfo.err;

  const RunResult unknown = RunVornctl({"info", "VSC9999999"}, options);
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_NE(unknown.err.find("no device has the serial text"), std::string::npos) << unknown.err;
}

}  // namespace
}  // namespace vorn_test
