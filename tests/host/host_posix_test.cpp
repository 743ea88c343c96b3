// What the host subsystem amounts to without a host application.
#include <gtest/gtest.h>

#include "host/host_environment.h"
#include "host/host_strings.h"
#include "host/hresult_text.h"
#include "host/prerelease_report.h"

namespace vorn_test {
namespace {

TEST(HostWithoutApplication, NoEnvironmentAndNoReport) {
  EXPECT_EQ(QVX::GetHostEnvironment(), nullptr);
  QVX::ReportPrereleaseBuild();
  EXPECT_EQ(QVX::GetHostEnvironment(), nullptr);
  EXPECT_EQ(QVX::ReadOwnVersion().fileVersion, u"N/A");
}

TEST(HostWithoutApplication, HostStringsAndSystemTextsAreEmpty) {
  EXPECT_TRUE(QVX::LoadHostString(nullptr, 57345, true).IsEmpty());
  EXPECT_TRUE(QVX::HResultText(static_cast<QVX::HResult>(0x80030105u)).IsEmpty());
  EXPECT_TRUE(QVX::HResultText(static_cast<QVX::HResult>(0x80070002u)).IsEmpty());
}

}  // namespace
}  // namespace vorn_test
