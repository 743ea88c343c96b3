// What the file system can do to a recording's outputs, POSIX builds: links,
// FIFOs, devices and over-long names at the check; a disk that fills during
// a recording (played by a file-size limit), after which each writer keeps
// whole rows or records and says why it stopped and what the file holds.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <future>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tools/vornctl/csv_writer.h"
#include "tools/vornctl/edf_writer.h"
#include "tools/vornctl/output_check.h"
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

// While it lives, no file of this process grows beyond `bytes`.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
};

namespace fs = std::filesystem;

class OutputPathTest : public ScratchFolderTest {
 protected:
  OutputPathTest() : ScratchFolderTest("vornctl-output-paths") {}

  bool Check(const std::vector<std::string> &outputs, const std::string &plot = "", bool force = false) {
    error_.clear();
    return CheckOutputs(outputs, plot, force, checked_, error_);
  }

  std::vector<OutputTarget> checked_;
  std::string error_;
};

TEST_F(OutputPathTest, LinksAreRefusedUnlessForcedAndNeverFollowedOrRemoved) {
  std::ofstream(File("victim.txt")) << "precious";
  fs::create_symlink(File("victim.txt"), File("link.csv"));
  fs::create_symlink(File("nowhere.csv"), File("dangling.csv"));
  for (const char *name : {"link.csv", "dangling.csv"}) {
    EXPECT_FALSE(Check({File(name)})) << name;
    EXPECT_NE(error_.find("symbolic link (to " + File(name[0] == 'l' ? "victim.txt" : "nowhere.csv")),
              std::string::npos)
        << error_;
    EXPECT_TRUE(Check({File(name)}, "", true)) << name << ": " << error_;
    EXPECT_TRUE(fs::is_symlink(File(name))) << name;
  }
  EXPECT_FALSE(fs::exists(File("nowhere.csv")));
  std::ifstream in(File("victim.txt"));
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "precious");
}

TEST_F(OutputPathTest, FifosAndDevicesAreRefusedWithoutBeingOpened) {
  ASSERT_EQ(::mkfifo(File("pipe.csv").c_str(), 0600), 0);
  // With no reader an open for writing would wait for good; the check only looks.
  auto checked = std::async(std::launch::async, [&] {
    std::vector<OutputTarget> out;
    std::string error;
    const bool ok = CheckOutputs({File("pipe.csv")}, "", true, out, error);
    return std::make_pair(ok, error);
  });
  ASSERT_EQ(checked.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the check opened the FIFO";
  const auto [ok, error] = checked.get();
  EXPECT_FALSE(ok);
  EXPECT_NE(error.find("FIFO"), std::string::npos) << error;
  if (::mknod(File("null.csv").c_str(), S_IFCHR | 0600, ::makedev(1, 3)) == 0) {
    EXPECT_FALSE(Check({File("null.csv")}, "", true));
    EXPECT_NE(error_.find("a device"), std::string::npos) << error_;
    fs::remove(File("null.csv"));
  }
  fs::create_symlink("/dev/null", File("null.csv"));
  EXPECT_TRUE(Check({File("null.csv")}, "", true)) << "--force replaces the link, not the device: " << error_;
}

TEST_F(OutputPathTest, PathsTooLongForTheSystemAreCalledSo) {
  const std::string longPath = File(std::string(5000, 'a') + ".csv");
  EXPECT_FALSE(Check({longPath}));
  EXPECT_NE(error_.find("too long"), std::string::npos) << error_;
  EXPECT_EQ(error_.find("does not exist"), std::string::npos) << error_;
  EXPECT_LT(error_.size(), 400u) << "the message shows the path shortened";
  // A name that fits only without the temporary suffix.
  EXPECT_FALSE(Check({File(std::string(251, 'b') + ".csv")}));
  EXPECT_NE(error_.find("too long"), std::string::npos) << error_;
  EXPECT_NE(error_.find(".partial"), std::string::npos) << error_;
}

class FullDiskTest : public ScratchFolderTest {
 protected:
  FullDiskTest() : ScratchFolderTest("vornctl-full-disk") {}
  void SetUp() override {
    ScratchFolderTest::SetUp();
    ChannelInfo ecg;
    ecg.position = 1;
    ecg.name = "ECG";
    ecg.unit = "mV";
    ecg.hasRange = true;
    ecg.minimum = -5;
    ecg.maximum = 5;
    header_.channels = {ecg, ecg};
    header_.periodUs = 5000;
    header_.identity.serial = "0000042";
    header_.startTime = 1765282080;
  }
  RecordingHeader header_;
};

TEST_F(FullDiskTest, CsvKeepsWholeRowsAndSaysHowManyTheFileHolds) {
  const std::string path = File("run.csv");
  CsvWriter writer(path);
  std::string error;
  ASSERT_TRUE(writer.Begin(header_, error)) << error;
  ASSERT_TRUE(writer.Start(header_, error));
  {
    FileSizeLimit limit(20000);
    const std::vector<std::int32_t> v = {12345, 23456};
    bool failed = false;
    for (int i = 0; i < 5000 && !failed; ++i) failed = !writer.Add(&v, i * 0.005, error);
    ASSERT_TRUE(failed);
    EXPECT_NE(error.find(std::strerror(EFBIG)), std::string::npos) << error;
    EXPECT_NE(error.find("run.csv"), std::string::npos) << error;
    EXPECT_FALSE(writer.Add(&v, 99, error));
    EXPECT_FALSE(writer.Finish(RecordingSummary{}, error));
  }
  const std::string text = Slurp(path);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  std::istringstream lines(text);
  std::string line;
  int rows = -1;  // the column header
  while (std::getline(lines, line)) {
    if (line.rfind("# ", 0) == 0) continue;
    ++rows;
    if (rows > 0) {
      EXPECT_EQ(std::count(line.begin(), line.end(), ','), 5) << line;
    }
  }
  ASSERT_GT(rows, 0);
  ASSERT_TRUE(writer.Outcome());
  EXPECT_EQ(writer.Outcome()->holds.rfind(std::to_string(rows) + " rows, ", 0), 0u) << writer.Outcome()->holds;
}

TEST_F(FullDiskTest, EdfKeepsWholeRecordsWithTheirCountAndTheReason) {
  const std::string path = File("run.edf");
  auto writer = MakeEdfWriter(path);
  std::string error;
  ASSERT_TRUE(writer->Begin(header_, error)) << error;
  ASSERT_TRUE(writer->Start(header_, error));
  const std::size_t headerBytes = 256 * 4;
  const std::size_t recordBytes = 2 * 200 * 2 + 512;
  {
    FileSizeLimit limit(headerBytes + 2 * recordBytes + recordBytes / 2);
    const std::vector<std::int32_t> v = {100, 200};
    bool failed = false;
    for (int i = 0; i < 5000 && !failed; ++i) failed = !writer->Add(&v, 0, error);
    ASSERT_TRUE(failed);
    EXPECT_NE(error.find("EDF+"), std::string::npos) << error;
    EXPECT_NE(error.find(std::strerror(EFBIG)), std::string::npos) << error;
    EXPECT_FALSE(writer->Finish(RecordingSummary{}, error));
  }
  const std::string file = Slurp(path);
  ASSERT_EQ(file.size(), headerBytes + 2 * recordBytes);
  EXPECT_EQ(file.substr(kEdfRecordCountOffset, 8), "2       ");
  ASSERT_TRUE(writer->Outcome());
  EXPECT_TRUE(writer->Outcome()->written);
  EXPECT_EQ(writer->Outcome()->holds, "2 data record(s), 400 sample sets, 2 s");
}

}  // namespace
}  // namespace vorn_test
