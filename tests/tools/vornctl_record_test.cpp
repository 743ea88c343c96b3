// vornctl list, info and record against a simulated device, and the EDF+
// file read back with EDFlib's own reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/sim_process.h"
#include "vornctl_recording_check.h"
#include "vornctl_run.h"
#include "vornctl_scratch_test.h"

#if VORNCTL_HAVE_EDFLIB
#include <edflib.h>
#endif

namespace vorn_test {
namespace {

const std::vector<ExpectedChannel> kChannels = {
    {"Pressure", "mmHg", 0, 300}, {"Temp", "degC", 30, 42}, {"Resp", "l/min", 0, 60}};

class RecordTest : public vorn_test::ScratchFolderTest {
 protected:
  RecordTest()
      : ScratchFolderTest("vornctl-record-test"),
        sim_({"--channels", "Pressure:mmHg:0:300:sine:1;Temp:degC:30:42:ramp:0.5;Resp:l/min:0:60:square:2", "--periods",
              "EndOfCycle,0.002,0.005", "--product", "Bench Quellograph"}) {}
  void SetUp() override {
    ASSERT_TRUE(sim_.ok());
    ScratchFolderTest::SetUp();
  }

  RunResult Run(const std::vector<std::string> &args) {
    RunOptions options;
    options.environment = {"VORN_PORTS=" + sim_.PortEntry()};
    return RunVornctl(args, options);
  }

  vorn_test::SimProcess sim_;
};

TEST_F(RecordTest, ListShowsTheDeviceThatDiscoveryFinds) {
  const RunResult run = Run({"list"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out.rfind("index  serial", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("\n0  "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Bench Quellograph"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("0x"), std::string::npos) << run.out;
}

TEST_F(RecordTest, InfoShowsChannelsRangesAndPeriodsInMilliseconds) {
  const RunResult run = Run({"info", "0"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (const char *text : {"Pressure", "mmHg", "0,300,mmHg;", "30,42,degC;", "l/min", "2000 us = 2 ms",
                           "5000 us = 5 ms", "control list: "}) {
    EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
  }
}

TEST_F(RecordTest, RecordsOnlyTheChosenChannelsAtTheChosenPeriod) {
  const std::string csvPath = File("some.csv");
  const RunResult run = Run({"record", "0", "--channels", "Resp,1", "--period", "5ms", "--seconds", "0.6", "--out",
                             csvPath, "--no-progress"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const CsvRecording csv = ReadCsv(csvPath);
  // The columns in the order the user named the channels.
  CheckRecording(csv, {kChannels[2], kChannels[0]}, 0.005);
  // 0.6 s of data at 5 ms, counted from the first line.
  EXPECT_EQ(csv.rows.size(), 120u);
  EXPECT_NE(csv.Comment("serial").find("1234567"), std::string::npos);
  EXPECT_EQ(csv.Comment("product"), "Bench Quellograph");
  EXPECT_EQ(csv.Comment("period [us]"), "5000");
  EXPECT_EQ(csv.Comment("unique id").rfind("0x", 0), 0u);
  EXPECT_FALSE(csv.Comment("version").empty());
  EXPECT_FALSE(csv.Comment("vornctl").empty());
  const std::string start = csv.Comment("start");
  ASSERT_EQ(start.size(), 24u) << start;  // 2026-12-09T12:08:00.123Z
  EXPECT_EQ(start[10], 'T');
  EXPECT_EQ(start.back(), 'Z');
}

TEST_F(RecordTest, PeriodTheDeviceDoesNotOfferIsAUsageErrorListingTheChoices) {
  const RunResult run = Run({"record", "0", "--period", "3ms", "--out", File("never.csv")});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("2 ms, 5 ms"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(File("never.csv")));
}

TEST(RecordWithoutDevice, ReportsTheDriversGeneralMessage) {
  RunOptions options;
  // A port whose serial number is no Vorn device's.
  options.environment = {"VORN_PORTS=FTX123=/dev/null"};
  const std::string csv = (std::filesystem::temp_directory_path() / "vornctl-never-written.csv").string();
  const RunResult run = RunVornctl({"record", "0", "--out", csv}, options);
  EXPECT_EQ(run.exitCode, 1);
  // The driver's own words on one line, which say that VORN_PORTS stood in for the system's ports.
  EXPECT_NE(run.err.find("the driver says: \"The Vorn Device cannot be found. VORN_PORTS is set"), std::string::npos)
      << run.err;
  const RunResult list = RunVornctl({"list"}, options);
  EXPECT_EQ(list.exitCode, 1);
  EXPECT_NE(list.err.find("cannot be found"), std::string::npos) << list.err;
}

// The device sends the degree and micro signs a byte each; whatever the locale's
// code page the driver hands them in, vornctl writes them as UTF-8.
TEST(RecordUnits, UnitsBeyondAsciiAreWrittenAsUtf8InEveryLocale) {
  vorn_test::SimProcess sim({"--profile", "units"});
  ASSERT_TRUE(sim.ok());
  const std::string csv = (std::filesystem::temp_directory_path() / "vornctl-units-test.csv").string();
  for (const char *locale : {"LC_ALL=C", "LC_ALL=C.UTF-8"}) {
    SCOPED_TRACE(locale);
    RunOptions options;
    options.environment = {"VORN_PORTS=" + sim.PortEntry(), locale};
    const RunResult info = RunVornctl({"info", "0", "--json"}, options);
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("\"unit\": \"\u00B0C\""), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("\"unit\": \"\u00B5V\""), std::string::npos) << info.out;
    std::filesystem::remove(csv);
    const RunResult record = RunVornctl({"record", "0", "--seconds", "0.2", "--out", csv}, options);
    ASSERT_EQ(record.exitCode, 0) << record.err;
    std::ifstream in(csv);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("Temp [\u00B0C],EEG raw,EEG [\u00B5V]"), std::string::npos) << text.str().substr(0, 600);
  }
  std::filesystem::remove(csv);
}

TEST(CommandLine, MistakesAreUsageErrorsWithAMessage) {
  for (const std::vector<std::string> &args :
       std::vector<std::vector<std::string>>{{"record", "0"},
                                             {"record", "--all", "0", "--out", "a.csv"},
                                             {"record", "0", "--out", "a.txt"},
                                             {"record", "0", "--seconds", "-1", "--out", "a.csv"},
                                             {"info"},
                                             {"frobnicate"},
                                             {"demo", "--seconds", "0"},
                                             {"list", "extra"}}) {
    const RunResult run = RunVornctl(args);
    EXPECT_EQ(run.exitCode, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_NE(run.err.find("vornctl: "), std::string::npos) << args[0];
  }
  const RunResult help = RunVornctl({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char *text : {"about", "list", "info N", "record N", "demo", "--out", "--plot", "--channels", "--period",
                           "--seconds", "--block", "--profile", "VORN_LIBRARY", "VORN_PORTS", "EDF+"}) {
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  }
}

#if VORNCTL_HAVE_EDFLIB
std::string Trimmed(const char *text) {
  std::string s = text;
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

TEST_F(RecordTest, EdfRecordingReadsBackWithEdflibLikeTheCsv) {
  const std::string csvPath = File("both.csv");
  const std::string edfPath = File("both.edf");
  const std::string svgPath = File("both.svg");
  const RunResult run =
      Run({"record", "0", "--seconds", "1.3", "--out", csvPath, "--out", edfPath, "--plot", svgPath, "--no-progress"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const CsvRecording csv = ReadCsv(csvPath);
  CheckRecording(csv, kChannels, 0.002);
  ASSERT_GT(csv.rows.size(), 500u);

  edf_hdr_struct header{};
  ASSERT_EQ(edfopen_file_readonly(edfPath.c_str(), &header, EDFLIB_READ_ALL_ANNOTATIONS), 0)
      << "EDFlib error " << header.filetype;
  EXPECT_EQ(header.filetype, EDFLIB_FILETYPE_EDFPLUS);
  ASSERT_EQ(header.edfsignals, 3);
  EXPECT_EQ(header.datarecord_duration, EDFLIB_TIME_DIMENSION);  // one-second records
  const auto rows = static_cast<long long>(csv.rows.size());
  for (int s = 0; s < 3; ++s) {
    const edf_param_struct &p = header.signalparam[s];
    const ExpectedChannel &c = kChannels[static_cast<std::size_t>(s)];
    EXPECT_EQ(Trimmed(p.label), c.name);
    EXPECT_EQ(Trimmed(p.physdimension), c.unit);
    EXPECT_DOUBLE_EQ(p.phys_min, c.minimum);
    EXPECT_DOUBLE_EQ(p.phys_max, c.maximum);
    EXPECT_EQ(p.dig_min, 0);
    EXPECT_EQ(p.dig_max, 32767);
    EXPECT_EQ(p.smp_in_datarecord, 500);  // 2 ms
    // Whole records only: the last one is filled up, never cut short.
    EXPECT_GE(p.smp_in_file, rows);
    EXPECT_LT(p.smp_in_file, rows + 500);

    std::vector<int> digital(static_cast<std::size_t>(rows));
    ASSERT_EQ(edfread_digital_samples(header.handle, s, static_cast<int>(rows), digital.data()), rows);
    edfseek(header.handle, s, 0, EDFSEEK_SET);
    std::vector<double> physical(static_cast<std::size_t>(rows));
    ASSERT_EQ(edfread_physical_samples(header.handle, s, static_cast<int>(rows), physical.data()), rows);
    const double step = (c.maximum - c.minimum) / 32767;
    for (long long i = 0; i < rows; ++i) {
      const auto &row = csv.rows[static_cast<std::size_t>(i)];
      const long raw = std::strtol(row[2 + 2 * static_cast<std::size_t>(s)].c_str(), nullptr, 10);
      const double value = std::strtod(row[3 + 2 * static_cast<std::size_t>(s)].c_str(), nullptr);
      ASSERT_LE(std::abs(digital[static_cast<std::size_t>(i)] - raw), 1) << c.name << " sample " << i;
      ASSERT_NEAR(physical[static_cast<std::size_t>(i)], value, step) << c.name << " sample " << i;
    }
  }
  bool endsAnnotated = false;
  for (long long a = 0; a < header.annotations_in_file; ++a) {
    edf_annotation_struct note{};
    ASSERT_EQ(edf_get_annotation(header.handle, static_cast<int>(a), &note), 0);
    if (std::string(note.annotation).rfind("Recording ends", 0) == 0) {
      endsAnnotated = true;
      EXPECT_NEAR(static_cast<double>(note.onset) / EDFLIB_TIME_DIMENSION, rows * 0.002, 0.0011);
    }
  }
  EXPECT_TRUE(endsAnnotated);
  edfclose_file(header.handle);

  std::ifstream svg(svgPath);
  std::stringstream text;
  text << svg.rdbuf();
  EXPECT_NE(text.str().find("Pressure [mmHg]"), std::string::npos);
  EXPECT_NE(text.str().find("</svg>"), std::string::npos);
}
#endif

}  // namespace
}  // namespace vorn_test
