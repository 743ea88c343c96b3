#include "host/prerelease_report.h"

#include <gtest/gtest.h>

#include <string>

#include "tools/hostlib/host_environment.h"

namespace vorn_test {
namespace {

QVX::ModuleVersion Version(std::u16string text, std::uint32_t fourth = 0) {
  QVX::ModuleVersion version;
  version.fourthField = fourth;
  version.fileVersion = std::move(text);
  version.fileDescription = u"Vorn driver";
  return version;
}

TEST(PrereleaseRule, AlphaBetaAndFinalAreReported) {
  EXPECT_EQ(QVX::PrereleaseLabel(Version(u"2.1 Beta")), u"Vorn driver 2.1 Beta");
  EXPECT_EQ(QVX::PrereleaseLabel(Version(u"2.1 alpha")), u"Vorn driver 2.1 alpha");
  EXPECT_EQ(QVX::PrereleaseLabel(Version(u"2.1 Final")), u"Vorn driver 2.1 Final");
}

TEST(PrereleaseRule, ReleasesAreNotReported) {
  EXPECT_FALSE(QVX::PrereleaseLabel(Version(u"2.1 Final Rev 3")));
  EXPECT_FALSE(QVX::PrereleaseLabel(Version(u"1.0.2")));
  EXPECT_FALSE(QVX::PrereleaseLabel(Version(u"N/A")));
  EXPECT_FALSE(QVX::PrereleaseLabel(Version(u"2.1 Beta N/A")));
  // The searches are case-sensitive.
  EXPECT_FALSE(QVX::PrereleaseLabel(Version(u"2.1 BETA")));
  // A fourth field of 1024 or more marks a release build whatever the text.
  EXPECT_FALSE(QVX::PrereleaseLabel(Version(u"2.1 Beta", 1024)));
  EXPECT_FALSE(QVX::PrereleaseLabel(Version(u"2.1 alpha", 2400)));
  EXPECT_TRUE(QVX::PrereleaseLabel(Version(u"2.1 alpha", 1023)));
}

TEST(PrereleaseRule, LabelFitsTheHostsBuffer) {
  QVX::ModuleVersion version = Version(u"3.0 beta");
  version.fileDescription = std::u16string(300, u'd');
  auto label = QVX::PrereleaseLabel(version);
  ASSERT_TRUE(label);
  EXPECT_EQ(label->size(), 255u);
}

TEST(PrereleaseReport, PreReleaseIsHandedToTheEnvironment) {
  vorn_host::HostEnvironmentObject environment;
  QVX::ReportPrerelease(environment.Interface(), Version(u"2.1 Beta"));
  EXPECT_EQ(environment.flagCalls, 1);
  EXPECT_EQ(environment.reportCalls, 1);
  EXPECT_EQ(environment.reported, u"Vorn driver 2.1 Beta");
}

TEST(PrereleaseReport, EnvironmentFlagOrReleaseBuildStopsTheReport) {
  vorn_host::HostEnvironmentObject declining;
  declining.declineFlag = 1;
  QVX::ReportPrerelease(declining.Interface(), Version(u"2.1 Beta"));
  EXPECT_EQ(declining.flagCalls, 1);
  EXPECT_EQ(declining.reportCalls, 0);

  vorn_host::HostEnvironmentObject release;
  QVX::ReportPrerelease(release.Interface(), Version(u"1.0.2", 2400));
  EXPECT_EQ(release.flagCalls, 1);
  EXPECT_EQ(release.reportCalls, 0);

  QVX::ReportPrerelease(nullptr, Version(u"2.1 Beta"));
}

}  // namespace
}  // namespace vorn_test
