// Loading ftd2xx.dll from the system folder, and the lookup through the
// stand-in library's entry points.
#include <gtest/gtest.h>

#include "discovery/ftdi_library.h"
#include "discovery/system_ports.h"
#include "wine_fakes.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {

using vorn_test::FakeCounter;
using vorn_test::Ftd2xx;

class FtdiLoading : public ::testing::Test {
 protected:
  void SetUp() override { vorn_test::ResetFakeCounters(); }
  void TearDown() override {
    EXPECT_EQ(FakeCounter("VORN_FAKE_FTD2XX_ATTACHED"), FakeCounter("VORN_FAKE_FTD2XX_DETACHED"));
    EXPECT_EQ(FakeCounter("VORN_FAKE_FTD2XX_OPEN"), 0);
    EXPECT_TRUE(vorn_test::InstallFtd2xx(Ftd2xx::Absent));
  }
};

TEST_F(FtdiLoading, AbsentLibraryIsNotInstalled) {
  ASSERT_TRUE(vorn_test::InstallFtd2xx(Ftd2xx::Absent));
  auto ftdi = SystemPorts().MakeFtdiLookup();
  EXPECT_TRUE(ftdi->Flags().notInstalled);
  EXPECT_FALSE(ftdi->Flags().cannotLoad);
  EXPECT_FALSE(ftdi->Usable());
}

TEST_F(FtdiLoading, LibraryThatRefusesToLoadIsNotInstalled) {
  ASSERT_TRUE(vorn_test::InstallFtd2xx(Ftd2xx::RefusesLoad));
  auto ftdi = SystemPorts().MakeFtdiLookup();
  EXPECT_TRUE(ftdi->Flags().notInstalled);
  EXPECT_EQ(FakeCounter("VORN_FAKE_FTD2XX_ATTACHED"), 1);
}

TEST_F(FtdiLoading, MissingEntryPointCannotLoadAndFreesTheLibrary) {
  ASSERT_TRUE(vorn_test::InstallFtd2xx(Ftd2xx::WithoutPortNumber));
  auto ftdi = SystemPorts().MakeFtdiLookup();
  EXPECT_FALSE(ftdi->Flags().notInstalled);
  EXPECT_TRUE(ftdi->Flags().cannotLoad);
  EXPECT_FALSE(ftdi->Usable());
  EXPECT_FALSE(vorn_test::ModuleLoaded(L"ftd2xx.dll"));
  std::u16string serial;
  EXPECT_FALSE(ftdi->FindFtdiSerial(u"COM3", serial));
  EXPECT_EQ(FakeCounter("VORN_FAKE_FTD2XX_CALLS"), 0);
}

TEST_F(FtdiLoading, CopyOnTheSearchPathIsNeverTaken) {
  // The stand-in Setup API's folder is on the search path; the system folder holds none.
  ASSERT_TRUE(vorn_test::InstallFtd2xx(Ftd2xx::Absent));
  auto ftdi = SystemPorts().MakeFtdiLookup();
  EXPECT_TRUE(ftdi->Flags().notInstalled);
}

TEST_F(FtdiLoading, LookupFindsTheConverterOnThePortAndClosesEveryHandle) {
  ASSERT_TRUE(vorn_test::InstallFtd2xx(Ftd2xx::Full));
  vorn_test::ScriptFtd2xx(
      "converter|FT0001|3\n"
      "converter|VSC0123456789ABC|7\n"
      "converter|A8009999|-1\n");
  {
    auto ftdi = SystemPorts().MakeFtdiLookup();
    ASSERT_TRUE(ftdi->Usable());
    std::u16string serial;
    ASSERT_TRUE(ftdi->FindFtdiSerial(u"com7", serial));
    // All sixteen bytes of the field, no more.
    EXPECT_EQ(serial, u"VSC0123456789ABC");
    EXPECT_EQ(FakeCounter("VORN_FAKE_FTD2XX_OPEN"), 0);
    EXPECT_FALSE(ftdi->FindFtdiSerial(u"COM", serial));
    EXPECT_FALSE(ftdi->FindFtdiSerial(u"COM07", serial));
    EXPECT_TRUE(vorn_test::ModuleLoaded(L"ftd2xx.dll"));
  }
  EXPECT_FALSE(vorn_test::ModuleLoaded(L"ftd2xx.dll"));
}

TEST_F(FtdiLoading, FailureInTheMiddleOfALookupClosesTheConverter) {
  ASSERT_TRUE(vorn_test::InstallFtd2xx(Ftd2xx::Full));
  auto ftdi = SystemPorts().MakeFtdiLookup();
  std::u16string serial;
  for (const char *script : {"converter|VSC1|4|fail-info\n", "converter|VSC1|2\nconverter|VSC2|4|fail-port\n",
                             "converter|VSC1|2|busy\nconverter|VSC2|4\n"}) {
    SCOPED_TRACE(script);
    vorn_test::ScriptFtd2xx(script);
    EXPECT_FALSE(ftdi->FindFtdiSerial(u"COM4", serial));
    EXPECT_EQ(FakeCounter("VORN_FAKE_FTD2XX_OPEN"), 0);
  }
}

}  // namespace
}  // namespace vorn_test
