// The CSV writer: header, exact time column, both value columns, damaged lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/vornctl/commands.h"
#include "tools/vornctl/csv_writer.h"
#include "tools/vornctl/output_file.h"

namespace vorn_test {

using namespace vornctl;

namespace {

std::string Slurp(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class CsvWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = std::filesystem::temp_directory_path() /
            ("vornctl-csv-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".csv");
    ChannelInfo ecg;
    ecg.position = 1;
    ecg.name = "ECG";
    ecg.unit = "mV";
    ecg.hasRange = true;
    ecg.minimum = -5;
    ecg.maximum = 5;
    ChannelInfo odd;
    odd.position = 3;
    odd.name = "Flow, \"net\"";
    odd.hasRange = true;
    odd.minimum = 0;
    odd.maximum = 300;
    header_.channels = {ecg, odd};
    header_.listedPeriodUs = 4999;
    header_.periodUs = 5000;
    header_.identity.serial = "VSC0000042";
    header_.identity.uniqueId = 0x1A2B3C4D;
    header_.identity.product = "Quellograph";
    header_.identity.version = "1.4.27";
    header_.startTime = 1765282080;  // 2025-12-09T12:08:00Z
    header_.startMilliseconds = 7;
  }
  void TearDown() override {
    std::filesystem::remove(path_);
    std::filesystem::remove(PartialPath(path_.string()));
  }

  std::filesystem::path path_;
  RecordingHeader header_;
};

TEST_F(CsvWriterTest, WritesHeaderTimeValuesAndGapsWithTheSampleTimeJumping) {
  CsvWriter writer(path_.string());
  std::string error;
  ASSERT_TRUE(writer.Begin(header_, error)) << error;
  // The start is the first line's moment, not the writer's.
  header_.startMilliseconds = 9;
  header_.monotonicStart = 780.25;
  ASSERT_TRUE(writer.Start(header_, error));
  const std::vector<std::int32_t> first = {0, 32767};
  const std::vector<std::int32_t> second = {16384, 0};
  ASSERT_TRUE(writer.Add(&first, 0, error));
  ASSERT_TRUE(writer.Gap(300, "reconnect", error));
  ASSERT_TRUE(writer.Add(&second, 1.5000004, error));
  ASSERT_TRUE(writer.Finish(RecordingSummary{}, error)) << error;
  EXPECT_EQ(Slurp(path_),
            std::string("# vornctl: ") + kVornctlVersion +
                "\n"
                "# start: 2025-12-09T12:08:00.009Z\n"
                "# monotonic start [s]: 780.250000\n"
                "# serial: VSC0000042\n"
                "# unique id: 0x1A2B3C4D\n"
                "# product: Quellograph\n"
                "# version: 1.4.27\n"
                "# period [us]: 5000\n"
                "time [s],host time [s],ECG raw,ECG [mV],\"Flow, \"\"net\"\" raw\",\"Flow, \"\"net\"\"\"\n"
                "0,0.000000,0,-5.00000,32767,300.0000\n"
                "# GAP: start 0.005 s, duration 1.5 s, sets 300, reason reconnect\n"
                "1.505,1.500000,16384,0.00015,0,0.0000\n");
}

TEST_F(CsvWriterTest, TheFileTakesItsNameOnlyWhenCompleteAndNeverReplacesOneUnasked) {
  const std::string partial = PartialPath(path_.string());
  const std::vector<std::int32_t> v = {1, 2};
  std::string error;
  {
    CsvWriter writer(path_.string());
    ASSERT_TRUE(writer.Begin(header_, error)) << error;
    for (int i = 0; i < 500; ++i) ASSERT_TRUE(writer.Add(&v, 0, error));
    EXPECT_FALSE(std::filesystem::exists(path_));
    // Flushed in whole rows about once a second of data (200 rows at 5 ms).
    const std::string sofar = Slurp(partial);
    ASSERT_FALSE(sofar.empty());
    EXPECT_EQ(sofar.back(), '\n');
    ASSERT_TRUE(writer.Finish(RecordingSummary{}, error)) << error;
    EXPECT_FALSE(std::filesystem::exists(partial));
    EXPECT_NE(Slurp(path_).find("\n2.495,"), std::string::npos);
    ASSERT_TRUE(writer.Outcome());
    EXPECT_EQ(writer.Outcome()->holds, "500 rows, 2.5 s");
  }
  // A file that appeared under the name meanwhile is kept; the recording stays beside it.
  {
    CsvWriter writer(path_.string());
    ASSERT_TRUE(writer.Begin(header_, error)) << error;
    ASSERT_TRUE(writer.Add(&v, 0, error));
    std::ofstream(path_) << "keep";
    EXPECT_FALSE(writer.Finish(RecordingSummary{}, error));
    EXPECT_NE(error.find("appeared while recording"), std::string::npos) << error;
    EXPECT_EQ(Slurp(path_), "keep");
    EXPECT_NE(Slurp(partial).find("\n0,0.000000,1,"), std::string::npos);
  }
  // Asked to replace (--force): the leftover goes first, the old file at the end.
  CsvWriter writer(path_.string(), true);
  ASSERT_TRUE(writer.Begin(header_, error)) << error;
  ASSERT_TRUE(writer.Add(&v, 0, error));
  ASSERT_TRUE(writer.Finish(RecordingSummary{}, error)) << error;
  EXPECT_NE(Slurp(path_).find("time [s]"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(partial));
}

TEST_F(CsvWriterTest, EmptyRecordingIsAHeaderWhenTheDeviceStreamedAndNothingWhenItNeverDid) {
  std::string error;
  RecordingSummary streamed;
  streamed.started = true;
  {
    CsvWriter writer(path_.string());
    ASSERT_TRUE(writer.Begin(header_, error));
    ASSERT_TRUE(writer.Finish(streamed, error)) << error;
    const std::string text = Slurp(path_);
    const std::string header =
        "time [s],host time [s],ECG raw,ECG [mV],\"Flow, \"\"net\"\" raw\",\"Flow, \"\"net\"\"\"\n";
    ASSERT_GE(text.size(), header.size());
    EXPECT_EQ(text.substr(text.size() - header.size()), header);
    EXPECT_EQ(writer.Outcome()->holds, "0 rows, 0 s");
  }
  std::filesystem::remove(path_);
  CsvWriter never(path_.string());
  ASSERT_TRUE(never.Begin(header_, error));
  ASSERT_TRUE(never.Finish(RecordingSummary{}, error));
  EXPECT_FALSE(std::filesystem::exists(path_));
  EXPECT_FALSE(std::filesystem::exists(PartialPath(path_.string())));
  EXPECT_FALSE(never.Outcome()->written);
}

TEST_F(CsvWriterTest, SubjectAndRecordingTextsJoinTheCommentLinesOnOneLineEach) {
  header_.subject = "P-17";
  header_.recording = "rest\nthen exercise";
  const std::string comments = CsvCommentLines(header_);
  EXPECT_NE(comments.find("# subject: P-17\n"), std::string::npos) << comments;
  EXPECT_NE(comments.find("# recording: rest then exercise\n"), std::string::npos) << comments;
}

TEST_F(CsvWriterTest, DamagedLineKeepsItsRowAndTimeWithoutValues) {
  CsvWriter writer(path_.string());
  std::string error;
  ASSERT_TRUE(writer.Begin(header_, error));
  const std::vector<std::int32_t> v = {1, 2};
  ASSERT_TRUE(writer.Add(&v, 0, error));
  ASSERT_TRUE(writer.Add(nullptr, 0.005, error));
  ASSERT_TRUE(writer.Add(&v, 0.01, error));
  ASSERT_TRUE(writer.Finish(RecordingSummary{}, error));
  std::istringstream lines(Slurp(path_));
  std::string line;
  std::vector<std::string> rows;
  while (std::getline(lines, line)) {
    if (line.rfind(kCsvCommentPrefix, 0) != 0) rows.push_back(line);
  }
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[2], "0.005,0.005000,,,,");
  EXPECT_EQ(rows[3].substr(0, 15), "0.01,0.010000,1");
}

TEST_F(CsvWriterTest, UnwritablePathFailsBeforeAnySample) {
  CsvWriter writer((path_.parent_path() / "no-such-folder" / "x.csv").string());
  std::string error;
  EXPECT_FALSE(writer.Begin(header_, error));
  EXPECT_NE(error.find("no-such-folder"), std::string::npos);
}

TEST(CsvText, SampleTimeIsExactForLongRecordings) {
  EXPECT_EQ(SampleTime(0, 2000), "0");
  EXPECT_EQ(SampleTime(1, 2000), "0.002");
  EXPECT_EQ(SampleTime(500, 2000), "1");
  EXPECT_EQ(SampleTime(3, 800000), "2.4");
  EXPECT_EQ(SampleTime(1, 1), "0.000001");
  // A day at 1 ms: summing the period as a float would have drifted by now.
  EXPECT_EQ(SampleTime(86400000 + 1, 1000), "86400.001");
}

TEST(CsvText, DeviceTextBecomesUtf8WhetherItCameAsLatin1OrUtf8) {
  EXPECT_EQ(TextAsUtf8("\xB5V"), "\xC2\xB5V");
  EXPECT_EQ(TextAsUtf8("\xB0"
                       "C"),
            "\xC2\xB0"
            "C");
  EXPECT_EQ(TextAsUtf8("\xC2\xB5V"), "\xC2\xB5V");
  EXPECT_EQ(TextAsUtf8("mmHg"), "mmHg");
  // A lead byte at the very end is Latin-1, not a cut sequence.
  EXPECT_EQ(TextAsUtf8("a\xC3"), "a\xC3\x83");
}

TEST(CsvText, FieldsAreQuotedOnlyWhenTheyMustBe) {
  EXPECT_EQ(CsvField("SpO2 [%]"), "SpO2 [%]");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField(" padded"), "\" padded\"");
  EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");
}

}  // namespace
}  // namespace vorn_test
