// What vornctl decides before it touches a device: the output files, the
// VORN_PORTS entries the driver will skip; and the small rules a recording
// follows (column order, missing sample sets, JSON text).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tools/vornctl/edf_writer.h"
#include "tools/vornctl/json_text.h"
#include "tools/vornctl/output_check.h"
#include "tools/vornctl/output_file.h"
#include "tools/vornctl/port_advice.h"
#include "tools/vornctl/recorder.h"
#include "vornctl_scratch_test.h"

namespace vorn_test {

using namespace vornctl;

namespace {

namespace fs = std::filesystem;

class OutputCheckTest : public vorn_test::ScratchFolderTest {
 protected:
  OutputCheckTest() : ScratchFolderTest("vornctl-outputs") {}

  bool Check(const std::vector<std::string> &outputs, const std::string &plot = "", bool force = false) {
    error_.clear();
    return CheckOutputs(outputs, plot, force, checked_, error_);
  }

  std::vector<OutputTarget> checked_;
  std::string error_;
};

TEST_F(OutputCheckTest, KindsComeFromTheExtensionInAnyCase) {
  ASSERT_TRUE(Check({File("a.csv"), File("b.EDF"), File("c.Csv"), "-"}, File("p.SVG"))) << error_;
  ASSERT_EQ(checked_.size(), 5u);
  EXPECT_EQ(checked_[0].kind, OutputKind::Csv);
  EXPECT_EQ(checked_[1].kind, OutputKind::Edf);
  EXPECT_EQ(checked_[2].kind, OutputKind::Csv);
  EXPECT_EQ(checked_[3].path, "-");
  EXPECT_EQ(checked_[4].kind, OutputKind::Svg);
  // The probe leaves no file behind.
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(OutputCheckTest, TrapsAreRefusedWithAReasonAndNothingIsCreated) {
  struct Case {
    std::vector<std::string> outputs;
    std::string plot;
    const char *says;
  };
  const std::vector<Case> cases = {
      {{File("b.csv")}, File("b.csv"), "named twice"},
      {{File("b.csv"), (dir_ / "." / "b.csv").string()}, "", "named twice"},
      {{File("a.csv")}, "-", ".svg"},
      {{File("a.csv")}, File("x.png"), ".svg"},
      {{File("x.txt")}, "", ".csv or .edf"},
      {{File("noext")}, "", ".csv or .edf"},
      {{"-", "-"}, "", "twice"},
      {{File("missing/dir/x.csv")}, "", "does not exist"},
      {{dir_.string() + "/.csv/"}, "", ".csv or .edf"},
  };
  for (const Case &c : cases) {
    EXPECT_FALSE(Check(c.outputs, c.plot)) << c.says;
    EXPECT_NE(error_.find(c.says), std::string::npos) << error_;
  }
  std::ofstream(File("x.csv")) << "a file";
  EXPECT_FALSE(Check({File("x.csv/y.csv")}));
  EXPECT_NE(error_.find("not a folder"), std::string::npos) << error_;
  fs::remove(File("x.csv"));
  fs::create_directories(dir_ / "folder.csv");
  EXPECT_FALSE(Check({File("folder.csv")}));
  EXPECT_NE(error_.find("folder"), std::string::npos) << error_;
  fs::remove(dir_ / "folder.csv");
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(OutputCheckTest, AnExistingFileOrACutRecordingIsKeptUnlessForced) {
  std::ofstream(File("old.csv")) << "keep";
  EXPECT_FALSE(Check({File("old.csv")}));
  EXPECT_NE(error_.find(File("old.csv") + " exists"), std::string::npos) << error_;
  EXPECT_NE(error_.find("--force"), std::string::npos) << error_;
  EXPECT_TRUE(Check({File("old.csv")}, "", true)) << error_;
  // A recording cut short left its file under the temporary name: the next run says where.
  std::ofstream(File("cut.partial.edf")) << "data";
  EXPECT_FALSE(Check({File("cut.edf")}));
  EXPECT_NE(error_.find(File("cut.partial.edf") + " is there"), std::string::npos) << error_;
  EXPECT_NE(error_.find("cut short"), std::string::npos) << error_;
  EXPECT_TRUE(Check({File("cut.edf")}, "", true)) << error_;
  // Looking changed nothing.
  std::ifstream in(File("old.csv"));
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "keep");
  EXPECT_TRUE(fs::exists(File("cut.partial.edf")));
  EXPECT_FALSE(fs::exists(File("cut.edf")));
}

TEST(OutputNames, TheTemporaryNameKeepsTheExtensionReadersGoBy) {
  EXPECT_EQ(PartialPath("run.edf"), "run.partial.edf");
  EXPECT_EQ(PartialPath("out.d/run.CSV"), "out.d/run.partial.CSV");
  EXPECT_EQ(PartialPath("out.d/run"), "out.d/run.partial");
  EXPECT_EQ(PartialPath("out/.csv"), "out/.csv.partial");
}

TEST(OutputNames, EachDeviceGetsItsOwnFileBesideTheNamedOne) {
  EXPECT_EQ(PathForDevice("run.csv", "VSC1234567-0"), "run-VSC1234567-0.csv");
  EXPECT_EQ(PathForDevice("out/run.EDF", "A800 7/x"), (fs::path("out") / "run-A800_7_x.EDF").string());
  EXPECT_EQ(PathForDevice("-", "VSC1"), "-");
}

TEST(PortListNotes, SayWhichEntriesTheDriverSkipsAndWhy) {
  const std::vector<std::string> notes = PortListNotes("VSC1=/dev/a;nonsense;FTX123=/dev/null;;A8001=/dev/b");
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_NE(notes[0].find("'nonsense'"), std::string::npos) << notes[0];
  EXPECT_NE(notes[0].find("no '='"), std::string::npos) << notes[0];
  EXPECT_NE(notes[1].find("FTX123 is not a Vorn serial number"), std::string::npos) << notes[1];
  EXPECT_TRUE(PortListNotes("").empty());
}

TEST(Recording, ColumnsFollowTheUsersOrderOfChannels) {
  // The driver's line holds positions 2 and 4 in that order.
  EXPECT_EQ(ColumnOrder({4, 2}), (std::vector<std::size_t>{1, 0}));
  EXPECT_EQ(ColumnOrder({1, 3, 2}), (std::vector<std::size_t>{0, 2, 1}));
  EXPECT_EQ(ColumnOrder({5}), (std::vector<std::size_t>{0}));
}

TEST(Recording, MissingCountsOnlyBetweenTheFirstLineAndTheLast) {
  // 3 s at 2 ms from the first line to the last: 1501 lines.
  EXPECT_EQ(MissingEstimate(3.0, 2000, 1501), 0);
  EXPECT_EQ(MissingEstimate(3.0, 2000, 1440), 0);  // chunked delivery, a late reader
  EXPECT_GT(MissingEstimate(3.0, 2000, 1200), 150);
  EXPECT_EQ(MissingEstimate(0, 2000, 0), 0);
  EXPECT_EQ(MissingEstimate(5.0, 2000, 0), 0);
}

TEST(JsonText, StringsAreEscapedAndNumbersMayBeNull) {
  EXPECT_EQ(JsonString("a\"b\\c\nd\x01"), "\"a\\\"b\\\\c\\nd\\u0001\"");
  EXPECT_EQ(JsonNumber(1.5), "1.5");
  EXPECT_EQ(JsonNumber(std::nullopt), "null");
  EXPECT_EQ(JsonNumber(-32767), "-32767");
}

}  // namespace
}  // namespace vorn_test
