#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "firmware/firmware_requirements.h"
#include "support/code_page.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {

class FirmwareFile : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    path = std::string("vorn_fw_") + info->name() + ".ini";
  }
  void TearDown() override { std::remove(path.c_str()); }
  // Writes the file and reads it as the session's gate would.
  FirmwareRequirements Read(const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    return FirmwareRequirements(QVX::AnsiToWide(path));
  }
  std::string path;
};

TEST_F(FirmwareFile, MissingFileIsNotLoaded) {
  FirmwareRequirements r(u"no/such/dir/VornFirmwareVer.ini");
  EXPECT_FALSE(r.loaded);
}

TEST_F(FirmwareFile, EmptyOrCommentOnlyFileGivesRevisionOne) {
  for (const char *text : {"", "; nothing\n# here\n", "[other]\nlcrev=5\n", "lcrev=5\n[required]\n"}) {
    const auto r = Read(text);
    EXPECT_TRUE(r.loaded);
    EXPECT_EQ(r.requiredRevision, 1) << text;
  }
}

TEST_F(FirmwareFile, RevisionIsReadFromSectionRequiredKeyLcrev) {
  EXPECT_EQ(Read("[required]\nlcrev = 12\n").requiredRevision, 12);
  EXPECT_EQ(Read("  [REQUIRED] trailing\nLcRev=7\n").requiredRevision, 7);
  EXPECT_EQ(Read("[required]\r\nlcrev=3\r\n").requiredRevision, 3);
}

TEST_F(FirmwareFile, ValuesTruncateTowardZero) {
  EXPECT_EQ(Read("[required]\nlcrev=5.9\n").requiredRevision, 5);
  EXPECT_EQ(Read("[required]\nlcrev=-2.5\n").requiredRevision, -2);
  EXPECT_EQ(Read("[required]\nlcrev=12.99999999\n").requiredRevision, 13);
  EXPECT_EQ(Read("[required]\nlcrev=4 ; a note\n").requiredRevision, 4);
}

TEST_F(FirmwareFile, UnusableValuesGiveZero) {
  for (const char *value : {"0", "letters", ""}) {
    EXPECT_EQ(Read(std::string("[required]\nlcrev=") + value + "\n").requiredRevision, 0) << value;
  }
}

TEST_F(FirmwareFile, ARepeatedKeyUsesTheLaterValue) {
  EXPECT_EQ(Read("[required]\nlcrev=2\nlcrev=9\n").requiredRevision, 9);
}

TEST_F(FirmwareFile, HeaderWithoutClosingBracketIsNotASection) {
  EXPECT_EQ(Read("[required\nlcrev=4\n").requiredRevision, 1);
}

TEST_F(FirmwareFile, ByteOrderMarkSpoilsAHeaderOnTheFirstLine) {
  const auto r = Read("\xEF\xBB\xBF[required]\nlcrev=4\n");
  EXPECT_TRUE(r.loaded);
  EXPECT_EQ(r.requiredRevision, 1);
}

TEST_F(FirmwareFile, MultiLineValueIsReadWhole) {
  EXPECT_EQ(Read("[required]\nlcrev=<<<END\n6\nEND\n").requiredRevision, 6);
}

TEST(FirmwareLocation, LiesInDevicesBesideTheExecutable) {
  const std::u16string path = FirmwareRequirements::DefaultPath();
  ASSERT_FALSE(path.empty());
  const std::u16string tail = u"VornFirmwareVer.ini";
  ASSERT_GT(path.size(), tail.size() + 8);
  EXPECT_EQ(path.substr(path.size() - tail.size()), tail);
  EXPECT_EQ(path.substr(path.size() - tail.size() - 8, 7), u"Devices");
}

TEST(DeviceRevision, GateReadsTheReportedText) {
  EXPECT_EQ(RevisionFromText(u"1.9"), 1);
  EXPECT_EQ(RevisionFromText(u"2"), 2);
  EXPECT_EQ(RevisionFromText(u"12abc"), 12);
  EXPECT_EQ(RevisionFromText(u"x"), 0);
  EXPECT_EQ(RevisionFromText(u""), 0);
}

}  // namespace
}  // namespace vorn_test
