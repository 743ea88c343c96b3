// Behaviour of the exports before any device has been found; run against the
// native library and, under Wine, against the Windows DLL.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <locale>
#include <sstream>
#include <string>

#include "common/process_probe.h"
#include "tools/hostlib/vorn_library.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace vorn_test {
namespace {

using vorn_host::VornLibrary;

class EmptyTable : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(lib.Load(VORN_LIBRARY_PATH, error)) << error;
  }
  void TearDown() override {
    if (lib.CloseAll) lib.CloseAll();
    lib.Unload();
  }
  VornLibrary lib;
};

// null unsets the variable.
void SetPorts(const char *value) {
#ifdef _WIN32
  SetEnvironmentVariableA("VORN_PORTS", value);
#else
  if (value) {
    setenv("VORN_PORTS", value, 1);
  } else {
    unsetenv("VORN_PORTS");
  }
#endif
}

std::string GeneralMessage(const VornLibrary &lib) {
  const std::int32_t size = lib.GetLastErrorMsg(-1, nullptr);
  std::string text(static_cast<std::size_t>(size > 0 ? size : 1), 'x');
  lib.GetLastErrorMsg(-1, text.data());
  return text.c_str();
}

constexpr char kCannotBeFound[] =
    "The Vorn Device cannot be found.\nPlease plug in your Vorn Device and restart Wavedesk.";

TEST_F(EmptyTable, EverySixteenNamesResolve) { EXPECT_EQ(lib.ResolvedCount(), 16); }

TEST_F(EmptyTable, DeviceClassInfoCarriesTheClassIdentityAndNames) {
  DeviceClassInfo info;
  std::memset(&info, 0xCD, sizeof info);
  ASSERT_EQ(lib.GetDeviceClassInfo(&info), 1);
  const unsigned char expectedGuid[16] = {0x67, 0xD2, 0x40, 0xA4, 0xC2, 0xD1, 0x34, 0x4C,
                                          0x8E, 0xE8, 0xA6, 0x42, 0xEB, 0x10, 0xB7, 0x17};
  EXPECT_EQ(std::memcmp(&info.classId, expectedGuid, 16), 0);
  ASSERT_NE(info.className, nullptr);
  ASSERT_NE(info.shortName, nullptr);
  EXPECT_EQ(std::u16string(info.className), u"Vorn Devices");
  EXPECT_EQ(std::u16string(info.shortName), u"Vorn");
}

TEST_F(EmptyTable, PerDeviceExportsGiveTheirMissingResults) {
  for (std::int32_t index : {0, 1, 7, -1, -2, INT32_MIN}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(lib.Initialise(index), 0);
    EXPECT_EQ(lib.IsFailed(index), 1);
    EXPECT_EQ(lib.CanUseBaudRate(index, 115200), 0);
    EXPECT_EQ(lib.SetBaudRate(index, 115200), 0);
    EXPECT_EQ(lib.GetBaudRate(index), 0);
    EXPECT_EQ(lib.ReadBuffSize(index), 0);
    lib.FlushReadBuffer(index);

    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(lib.ReadLine(index, buffer, sizeof buffer, 0), 0);
    EXPECT_EQ(lib.ReadBuffer(index, buffer, sizeof buffer, 0), 0);
    EXPECT_EQ(buffer[0], 'x');

    std::int32_t id = 12345;
    EXPECT_EQ(lib.GetUniqueID(index, &id), 0);
    EXPECT_EQ(id, 12345);

    CommandRecord record{};
    record.textBuffer = buffer;
    record.textLength = sizeof buffer;
    EXPECT_EQ(lib.DeviceCommand(index, VORN_CMD_PRODUCT_NAME, &record), 0);
    EXPECT_EQ(buffer[0], 'x');

    if (index != -1) {
      EXPECT_EQ(lib.GetLastErrorMsg(index, buffer), 0);
      EXPECT_EQ(buffer[0], 'x');
      EXPECT_EQ(lib.GetLastErrorMsg(index, nullptr), 0);
    }
  }
}

TEST_F(EmptyTable, GeneralMessageSaysTheDeviceCannotBeFound) {
  ASSERT_EQ(lib.GetLastErrorMsg(-1, nullptr), 87);
  char buffer[87];
  std::memset(buffer, 'x', sizeof buffer);
  ASSERT_EQ(lib.GetLastErrorMsg(-1, buffer), 87);
  EXPECT_EQ(std::string(buffer), kCannotBeFound);
  EXPECT_EQ(buffer[86], '\0');
  EXPECT_EQ(std::strchr(buffer, '\n') - buffer, 32);
  EXPECT_EQ(std::strchr(buffer, '\r'), nullptr);
  // Fetching the general message clears nothing.
  EXPECT_EQ(lib.GetLastErrorMsg(-1, nullptr), 87);
}

// A set VORN_PORTS replaces the system's discovery; one that names no device must
// say so, or a device that is plugged in is hidden without a word of why.
TEST_F(EmptyTable, AVornPortsThatNamesNoDeviceIsNamedByTheGeneralMessage) {
  const char *original = std::getenv("VORN_PORTS");
  const std::string kept = original ? original : "";
  for (const char *value : {"", "no-equals-sign;", "A123=COM9;XYZ0000001=COM8;=COM7"}) {
    SCOPED_TRACE(value);
    SetPorts(value);
    std::int32_t index = 99;
    EXPECT_EQ(lib.FindDevice(&index), 0);
    EXPECT_EQ(index, 99);
    const std::string text = GeneralMessage(lib);
    EXPECT_EQ(text.rfind("The Vorn Device cannot be found.\n", 0), 0u) << text;
    EXPECT_NE(text.find("VORN_PORTS is set"), std::string::npos) << text;
    // The explanation outlives CloseAll: it is about the environment, not a session.
    EXPECT_EQ(lib.CloseAll(), 1);
    EXPECT_EQ(GeneralMessage(lib), text);
  }
  // A list that names a device is not blamed, though its port may be missing.
  SetPorts("VSC0000999=COM99");
  std::int32_t index = -1;
  EXPECT_EQ(lib.FindDevice(&index), 1);
  EXPECT_EQ(lib.CloseAll(), 1);
  EXPECT_EQ(GeneralMessage(lib), kCannotBeFound);
  SetPorts(original ? kept.c_str() : nullptr);
}

TEST_F(EmptyTable, WriteBufferAcceptsNothing) {
  const char data[] = "abc";
  EXPECT_EQ(lib.WriteBuffer(0, data, 3), 0);
  EXPECT_EQ(lib.WriteBuffer(-1, nullptr, 0), 0);
}

TEST_F(EmptyTable, CloseAllOnAnEmptyTableSucceedsAndNothingIsFound) {
  EXPECT_EQ(lib.CloseAll(), 1);
  EXPECT_EQ(lib.CloseAll(), 1);
  std::int32_t index = 99;
  EXPECT_EQ(lib.FindDevice(&index), 0);
  EXPECT_EQ(index, 99);
  // "Cannot be found", or "not installed" where no converter library sits in the system folder.
  const std::int32_t size = lib.GetLastErrorMsg(-1, nullptr);
  EXPECT_TRUE(size == 87 || size == 185) << size;
  EXPECT_EQ(lib.CloseAll(), 1);
  EXPECT_EQ(lib.GetLastErrorMsg(-1, nullptr), 87);
}

TEST(LibraryLifetime, LoadAndUnloadWithoutCallsLeavesNoThreadOrHandle) {
  // Warm up once so that one-time costs of the loader itself are not counted.
  {
    VornLibrary lib;
    std::string error;
    ASSERT_TRUE(lib.Load(VORN_LIBRARY_PATH, error)) << error;
    lib.Unload();
  }
  const ProcessCounts before = CountProcessResources();
  for (int i = 0; i < 5; ++i) {
    VornLibrary lib;
    std::string error;
    ASSERT_TRUE(lib.Load(VORN_LIBRARY_PATH, error)) << error;
    lib.Unload();
  }
  const ProcessCounts after = CountProcessResources();
  EXPECT_EQ(after.threads, before.threads);
  // On Windows a one-time initialisation on the load or unload path would leave the
  // statically linked threading runtime's record of this thread (two handles) behind
  // at every unload: a host that reloads its plug-ins would lose them each time.
  EXPECT_LE(after.handles, before.handles) << "handles left behind by loading and unloading";
}

// The text exports convert through the locale snapshot and the C++ locale, whose
// one-time initialisations, run on a host thread, made the statically linked
// threading runtime of the Windows build keep a record of that thread (an event and
// a thread handle) that no unload frees: two handles lost per load.
TEST(LibraryLifetime, LoadCallingEveryExportThenUnloadLeavesNoThreadOrHandle) {
  const char *original = std::getenv("VORN_PORTS");
  const std::string kept = original ? original : "";
  // A port that is never opened: the session exists, no device is needed.
  SetPorts("VSC0000999=COM99");
  auto cycle = [] {
    VornLibrary lib;
    std::string error;
    ASSERT_TRUE(lib.Load(VORN_LIBRARY_PATH, error)) << error;
    char text[512];
    DeviceClassInfo info;
    EXPECT_EQ(lib.GetDeviceClassInfo(&info), 1);
    EXPECT_GT(lib.GetLastErrorMsg(-1, text), 0);
    std::int32_t index = -1;
    ASSERT_EQ(lib.FindDevice(&index), 1);
    EXPECT_EQ(lib.GetLastErrorMsg(index, text), 1);
    EXPECT_GT(lib.GetLastErrorMsg(-1, text), 0);
    EXPECT_EQ(lib.IsFailed(index), 0);
    lib.CanUseBaudRate(index, 9600);
    lib.SetBaudRate(index, 9600);
    lib.GetBaudRate(index);
    std::int32_t id = 0;
    EXPECT_EQ(lib.GetUniqueID(index, &id), 1);
    EXPECT_EQ(lib.ReadLine(index, text, sizeof text, 0), 0);
    EXPECT_EQ(lib.ReadBuffer(index, text, sizeof text, 0), 0);
    EXPECT_EQ(lib.ReadBuffSize(index), 0);
    lib.FlushReadBuffer(index);
    EXPECT_EQ(lib.WriteBuffer(index, text, 0), 0);
    CommandRecord record{};
    record.textBuffer = text;
    record.textLength = sizeof text;
    EXPECT_EQ(lib.DeviceCommand(-1, VORN_CMD_CHANNEL_RANGE, &record), 0);
    EXPECT_EQ(lib.CloseAll(), 1);
    lib.Unload();
  };
  cycle();
  const ProcessCounts before = CountProcessResources();
  for (int i = 0; i < 20; ++i) cycle();
  const ProcessCounts after = CountProcessResources();
  SetPorts(original ? kept.c_str() : nullptr);
  EXPECT_EQ(after.threads, before.threads);
  EXPECT_LE(after.handles, before.handles) << "handles left behind by 20 loads";
}

// The library installs the user's number punctuation as the C++ global locale
// when it first converts a text; those facets are its own code, so an unload
// that left them installed crashed the host's next use of the locale (found by
// vorn-fuzz-calls after repeated loads).
TEST(LibraryLifetime, UnloadLeavesTheHostItsOwnLocale) {
  const std::locale before;
  const std::string numericBefore = std::setlocale(LC_NUMERIC, nullptr);
  for (int i = 0; i < 3; ++i) {
    VornLibrary lib;
    std::string error;
    ASSERT_TRUE(lib.Load(VORN_LIBRARY_PATH, error)) << error;
    char buffer[256] = {};
    ASSERT_GT(lib.GetLastErrorMsg(-1, buffer), 0);
    lib.Unload();
    EXPECT_TRUE(std::locale() == before) << "load " << i;
    EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), numericBefore) << "load " << i;
    std::wostringstream text;
    text << 1.5;
    EXPECT_EQ(text.str(), L"1.5");
  }
}

}  // namespace
}  // namespace vorn_test
