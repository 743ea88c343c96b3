// The discovery search over a scripted port source: the prefix test, the
// fall-back to the port name and the converter lookup, and when the discovery
// state lives and goes.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "discovery/discovery.h"
#include "discovery/port_source.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {

struct Port {
  std::u16string instanceId;
  std::u16string path;
};

struct Script {
  std::vector<Port> ports;
  FtdiFlags flags;
  bool loaded = true;
  std::map<std::u16string, std::u16string> portNames;    // instance id -> COM name
  std::map<std::u16string, std::u16string> ftdiSerials;  // COM name -> serial
  std::vector<std::u16string> portNameQueries;
  std::vector<std::u16string> ftdiQueries;
  int lookupsMade = 0;
  int enumeratorsMade = 0;
  int lookupsAlive = 0;
};
Script script;

class ScriptedLookup : public FtdiLookup {
 public:
  ScriptedLookup() { ++script.lookupsAlive; }
  ~ScriptedLookup() override { --script.lookupsAlive; }
  FtdiFlags Flags() const override { return script.flags; }
  bool Usable() const override { return script.loaded && !script.flags.notInstalled && !script.flags.cannotLoad; }
  bool FindFtdiSerial(const std::u16string &com, std::u16string &serial) override {
    script.ftdiQueries.push_back(com);
    auto it = script.ftdiSerials.find(com);
    if (it == script.ftdiSerials.end()) return false;
    serial = it->second;
    return true;
  }
};

class ScriptedEnum : public DevRegEnum {
 public:
  ScriptedEnum() : ports_(script.ports) { nextIndex = 0; }
  bool Fetch(std::int32_t index) override {
    if (index >= static_cast<std::int32_t>(ports_.size())) return false;
    instanceId = ports_[index].instanceId;
    devicePath = ports_[index].path;
    return true;
  }

 private:
  std::vector<Port> ports_;
};

class ScriptedSource : public PortSource {
 public:
  std::unique_ptr<FtdiLookup> MakeFtdiLookup() override {
    ++script.lookupsMade;
    return std::make_unique<ScriptedLookup>();
  }
  std::unique_ptr<DevRegEnum> MakeEnumerator() override {
    ++script.enumeratorsMade;
    return std::make_unique<ScriptedEnum>();
  }
  bool ReadPortName(const std::u16string &id, std::u16string &name) override {
    script.portNameQueries.push_back(id);
    auto it = script.portNames.find(id);
    if (it == script.portNames.end()) return false;
    name = it->second;
    return true;
  }
};

std::unique_ptr<PortSource> MakeScripted() { return std::make_unique<ScriptedSource>(); }

class Search : public ::testing::Test {
 protected:
  void SetUp() override {
    script = {};
    SetPortSourceFactory(MakeScripted);
  }
  void TearDown() override {
    DiscardDiscoveryState();
    SetPortSourceFactory(nullptr);
    EXPECT_EQ(script.lookupsAlive, 0);
  }
};

TEST_F(Search, InstanceIdentifierGivesKeyRemainderAndIdentifier) {
  script.ports = {{u"FTDIBUS\\VID_0403+PID_6001+VSC00042A\\0000", u"\\\\.\\COM5"}};
  auto session = SearchNextDevice();
  ASSERT_TRUE(session);
  EXPECT_EQ(session->portName, u"\\\\.\\COM5");
  EXPECT_EQ(session->deviceText, u"00042A");
  EXPECT_EQ(session->uniqueId, 4);
  EXPECT_TRUE(script.portNameQueries.empty());
}

TEST_F(Search, DevicesComeInListOrderThenNothingThenTheFirstAgain) {
  script.ports = {{u"USB\\VID_1+PID_2+OTHER1\\0", u"p0"},
                  {u"FTDIBUS\\VID_0403+PID_6001+VSC1234567\\0000", u"p1"},
                  {u"FTDIBUS\\VID_0403+PID_6001+vsc7654321\\0000", u"p2"},
                  {u"FTDIBUS\\VID_0403+PID_6001+A8001234\\0000", u"p3"}};
  auto first = SearchNextDevice();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->portName, u"p1");
  EXPECT_EQ(first->uniqueId, 5465);
  auto second = SearchNextDevice();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->portName, u"p3");
  EXPECT_EQ(second->deviceText, u"01234");
  EXPECT_EQ(second->uniqueId, 2);
  EXPECT_TRUE(DeviceEnumeratorExists());

  EXPECT_FALSE(SearchNextDevice());
  FtdiFlags flags;
  EXPECT_FALSE(CurrentFtdiFlags(flags));
  EXPECT_FALSE(DeviceEnumeratorExists());

  auto again = SearchNextDevice();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->portName, u"p1");
  EXPECT_EQ(script.enumeratorsMade, 2);
  EXPECT_EQ(script.lookupsMade, 2);
}

TEST_F(Search, EmptyKeyAsksThePortNameWithTheWholeIdentifierThenTheConverter) {
  const std::u16string id = u"FTDIBUS\\VID_0403+PID_6001+\\0000";
  script.ports = {{id, u"\\\\.\\COM9"}};
  script.portNames[id] = u"COM9";
  script.ftdiSerials[u"COM9"] = u"VSC9999999";
  auto session = SearchNextDevice();
  ASSERT_TRUE(session);
  EXPECT_EQ(script.portNameQueries, std::vector<std::u16string>{id});
  EXPECT_EQ(script.ftdiQueries, std::vector<std::u16string>{u"COM9"});
  EXPECT_EQ(session->deviceText, u"9999999");
  EXPECT_EQ(session->portName, u"\\\\.\\COM9");
}

TEST_F(Search, UnreadablePortNameLeavesTheKeyEmptyAndSkipsTheDevice) {
  script.ports = {{u"ACPI\\PNP0501+\\0", u"a"}, {u"X+VSC0000099\\0", u"b"}};
  auto session = SearchNextDevice();
  ASSERT_TRUE(session);
  EXPECT_EQ(session->portName, u"b");
  EXPECT_EQ(script.ftdiQueries, std::vector<std::u16string>{u""});
}

TEST_F(Search, ShortRemainderGivesIdentifierZeroAndASession) {
  script.ports = {{u"X+VSC\\0", u"a"}, {u"X+A800\\0", u"b"}, {u"X+VSC7\\0", u"c"}};
  for (const char16_t *path : {u"a", u"b", u"c"}) {
    auto session = SearchNextDevice();
    ASSERT_TRUE(session);
    EXPECT_EQ(session->portName, path);
    EXPECT_EQ(session->uniqueId, 0);
  }
}

TEST_F(Search, NoPortsDiscardsTheStateAndLeavesNoFlags) {
  EXPECT_FALSE(SearchNextDevice());
  FtdiFlags flags;
  EXPECT_FALSE(CurrentFtdiFlags(flags));
  EXPECT_FALSE(DeviceEnumeratorExists());
  EXPECT_EQ(script.enumeratorsMade, 1);
}

TEST_F(Search, MissingLibraryStopsBeforeListingAndItsFlagPersists) {
  script.loaded = false;
  script.flags.notInstalled = true;
  script.ports = {{u"X+VSC1234567\\0", u"a"}};
  for (int call = 0; call < 3; ++call) {
    EXPECT_FALSE(SearchNextDevice());
    FtdiFlags flags;
    ASSERT_TRUE(CurrentFtdiFlags(flags));
    EXPECT_TRUE(flags.notInstalled);
    EXPECT_FALSE(flags.cannotLoad);
  }
  EXPECT_EQ(script.enumeratorsMade, 0);
  EXPECT_EQ(script.lookupsMade, 1);  // not retried until the state is discarded
  DiscardDiscoveryState();
  FtdiFlags flags;
  EXPECT_FALSE(CurrentFtdiFlags(flags));
}

TEST_F(Search, IncompleteLibraryReportsCannotLoad) {
  script.loaded = false;
  script.flags.cannotLoad = true;
  script.ports = {{u"X+VSC1234567\\0", u"a"}};
  EXPECT_FALSE(SearchNextDevice());
  FtdiFlags flags;
  ASSERT_TRUE(CurrentFtdiFlags(flags));
  EXPECT_TRUE(flags.cannotLoad);
  EXPECT_EQ(script.enumeratorsMade, 0);
}

}  // namespace
}  // namespace vorn_test
