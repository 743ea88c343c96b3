// The EDF+ writer, read back byte by byte: the header's fields, a record
// count that is true whenever the file is looked at, gaps filled and marked,
// and no file for a recording without data. (The end-to-end tests read the
// files with EDFlib's reader and MNE as well.)
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/vornctl/edf_writer.h"
#include "tools/vornctl/output_file.h"
#include "vornctl_scratch_test.h"

namespace vorn_test {

using namespace vornctl;

namespace {

std::string Slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Field(const std::string &file, std::size_t at, std::size_t width) {
  std::string f = file.substr(at, width);
  f.erase(f.find_last_not_of(' ') + 1);
  return f;
}

// Two channels at 5 ms: records of 200 sets, 2 * 200 * 2 bytes of samples and 512 of annotations.
constexpr std::size_t kHeaderBytes = 256 * 4;
constexpr std::size_t kRecordBytes = 2 * 200 * 2 + 512;

class EdfWriterTest : public ScratchFolderTest {
 protected:
  EdfWriterTest() : ScratchFolderTest("vornctl-edf") {}
  void SetUp() override {
    ScratchFolderTest::SetUp();
    ChannelInfo ecg;
    ecg.position = 1;
    ecg.name = "ECG";
    ecg.unit = "mV";
    ecg.hasRange = true;
    ecg.minimum = -5;
    ecg.maximum = 5;
    ChannelInfo raw;
    raw.position = 2;
    raw.name = "Count";
    raw.hasRange = false;
    header_.channels = {ecg, raw};
    header_.periodUs = 5000;
    header_.identity.serial = "0000042";
    header_.identity.uniqueId = 0x1A2B3C4D;
    header_.identity.product = "Quellograph";
    header_.identity.version = "1.4.27";
    header_.startTime = 1765282080;
    header_.startMilliseconds = 0;
    header_.subject = "P-17";
    header_.subjectName = "Jane Doe";
    header_.recording = "rest then exercise";
    path_ = File("run.edf");
  }

  // Sets with ECG at value v and the count at -v.
  void AddSets(SampleSink &sink, int count, int v) {
    std::string error;
    const std::vector<std::int32_t> values = {v, -v};
    for (int i = 0; i < count; ++i) ASSERT_TRUE(sink.Add(&values, 0, error)) << error;
  }

  // Sample s of signal `signal` in data record r.
  static int Sample(const std::string &file, std::size_t r, int signal, std::size_t s) {
    const std::size_t at = kHeaderBytes + r * kRecordBytes + static_cast<std::size_t>(signal) * 400 + s * 2;
    return static_cast<std::int16_t>(static_cast<unsigned char>(file[at]) |
                                     (static_cast<unsigned char>(file[at + 1]) << 8));
  }
  static std::string Annotations(const std::string &file, std::size_t r) {
    return file.substr(kHeaderBytes + r * kRecordBytes + 800, 512);
  }

  RecordingHeader header_;
  std::string path_;
};

TEST_F(EdfWriterTest, HeaderSaysWhoAndWhenAndTheCountIsTrueAfterEveryRecord) {
  auto writer = MakeEdfWriter(path_);
  std::string error;
  ASSERT_TRUE(writer->Begin(header_, error)) << error;
  header_.startMilliseconds = 123;
  ASSERT_TRUE(writer->Start(header_, error)) << error;
  AddSets(*writer, 450, 1000);
  // Cut short now, the file under the temporary name is two whole records that say so.
  const std::string partial = Slurp(PartialPath(path_));
  ASSERT_EQ(partial.size(), kHeaderBytes + 2 * kRecordBytes);
  EXPECT_EQ(Field(partial, kEdfRecordCountOffset, 8), "2");
  EXPECT_FALSE(std::filesystem::exists(path_));

  RecordingSummary summary;
  summary.interrupted = true;
  summary.stopSignal = "Ctrl-C";
  ASSERT_TRUE(writer->Finish(summary, error)) << error;
  const std::string file = Slurp(path_);
  ASSERT_EQ(file.size(), kHeaderBytes + 3 * kRecordBytes);
  EXPECT_EQ(Field(file, 0, 8), "0");
  // The subject code is the patient code subfield; the name is the last one.
  EXPECT_EQ(Field(file, 8, 80), "P-17 X X Jane_Doe");
  const std::string recording = Field(file, 88, 80);
  EXPECT_EQ(recording.rfind("Startdate ", 0), 0u) << recording;
  EXPECT_NE(recording.find(" rest_then_exercise vornctl"), std::string::npos) << recording;
  EXPECT_NE(recording.find(" Quellograph_0000042"), std::string::npos) << recording;
  EXPECT_EQ(Field(file, 184, 8), std::to_string(kHeaderBytes));
  EXPECT_EQ(Field(file, 192, 44), "EDF+C");
  EXPECT_EQ(Field(file, kEdfRecordCountOffset, 8), "3");
  EXPECT_EQ(Field(file, 244, 8), "1");
  EXPECT_EQ(Field(file, 252, 4), "3");
  // Each field for all three signals in turn: label 16, transducer 80, unit 8, minima and maxima 8 each.
  const std::size_t labels = 256;
  const std::size_t units = labels + 3 * 16 + 3 * 80;
  const std::size_t physicalMinima = units + 3 * 8;
  const std::size_t digitalMinima = physicalMinima + 2 * 3 * 8;
  EXPECT_EQ(Field(file, labels, 16), "ECG");
  EXPECT_EQ(Field(file, labels + 2 * 16, 16), "EDF Annotations");
  EXPECT_EQ(Field(file, units, 8), "mV");
  EXPECT_EQ(Field(file, physicalMinima, 8), "-5");
  EXPECT_EQ(Field(file, physicalMinima + 8, 8), "-32768");  // the unscaled count's
  EXPECT_EQ(Field(file, digitalMinima, 8), "0");

  // The fraction of the start second is the first time stamp; annotations count from it.
  const std::string first = Annotations(file, 0);
  EXPECT_EQ(first.rfind(std::string("+0.123\x14\x14\0", 9), 0), 0u);
  EXPECT_NE(first.find("+0.123\x14"
                       "Device 0000042 uid 0x1A2B3C4D\x14"),
            std::string::npos);
  EXPECT_EQ(Annotations(file, 1).rfind("+1.123\x14\x14", 0), 0u);
  const std::string last = Annotations(file, 2);
  EXPECT_NE(last.find("+2.373\x14Stopped by Ctrl-C\x14"), std::string::npos);
  EXPECT_NE(last.find("+2.373\x14Recording ends, 150 samples padded\x14"), std::string::npos);
  EXPECT_NE(last.find("+2.373\x15"
                      "0.75\x14"
                      "BAD_padding\x14"),
            std::string::npos);
  // The last record is filled up with the final values.
  EXPECT_EQ(Sample(file, 2, 0, 49), 1000);
  EXPECT_EQ(Sample(file, 2, 0, 199), 1000);
  EXPECT_EQ(Sample(file, 2, 1, 199), -1000);
  ASSERT_TRUE(writer->Outcome());
  EXPECT_TRUE(writer->Outcome()->written);
  EXPECT_EQ(writer->Outcome()->holds, "3 data record(s), 600 sample sets, 3 s");
}

TEST_F(EdfWriterTest, GapHoldsTheLastValuesAndIsMarkedBad) {
  auto writer = MakeEdfWriter(path_);
  std::string error;
  ASSERT_TRUE(writer->Begin(header_, error)) << error;
  ASSERT_TRUE(writer->Start(header_, error));
  AddSets(*writer, 10, 7000);
  ASSERT_TRUE(writer->Gap(300, "reconnect", error));
  AddSets(*writer, 10, 9000);
  ASSERT_TRUE(writer->Gap(0, "lost", error));
  ASSERT_TRUE(writer->Finish(RecordingSummary{}, error)) << error;
  const std::string file = Slurp(path_);
  ASSERT_EQ(file.size(), kHeaderBytes + 2 * kRecordBytes);
  EXPECT_EQ(Sample(file, 0, 0, 9), 7000);
  EXPECT_EQ(Sample(file, 0, 0, 10), 7000);
  EXPECT_EQ(Sample(file, 0, 1, 10), -7000);
  EXPECT_EQ(Sample(file, 1, 0, 109), 7000);  // set 309, the gap's last
  EXPECT_EQ(Sample(file, 1, 0, 110), 9000);
  EXPECT_NE(Annotations(file, 0).find("+0.05\x15"
                                      "1.5\x14"
                                      "BAD_gap reconnect\x14"),
            std::string::npos);
  EXPECT_EQ(Annotations(file, 1).find("BAD_gap lost"), std::string::npos);
}

TEST_F(EdfWriterTest, RecordingWithoutDataWritesNoFileAndSaysWhy) {
  auto writer = MakeEdfWriter(path_);
  std::string error;
  ASSERT_TRUE(writer->Begin(header_, error)) << error;
  EXPECT_TRUE(std::filesystem::exists(PartialPath(path_)));
  RecordingSummary summary;
  summary.started = true;
  ASSERT_TRUE(writer->Finish(summary, error)) << error;
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
  ASSERT_TRUE(writer->Outcome());
  EXPECT_FALSE(writer->Outcome()->written);
  EXPECT_NE(writer->Outcome()->holds.find("no sample set arrived"), std::string::npos);
}

TEST_F(EdfWriterTest, FieldsThatCannotBeWrittenAreRefusedBeforeAnyFileIsMade) {
  header_.channels[0].maximum = 1e12;
  auto writer = MakeEdfWriter(path_);
  std::string error;
  EXPECT_FALSE(writer->Begin(header_, error));
  EXPECT_NE(error.find("does not fit"), std::string::npos) << error;
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

}  // namespace
}  // namespace vorn_test
