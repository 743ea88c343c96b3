// VORN_PORTS: parsing, and discovery walking exactly its entries.
#include <gtest/gtest.h>

#include "discovery/discovery.h"
#include "discovery/port_list.h"
#include "discovery_test_env.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {

TEST(PortList, EntriesInOrderAndThoseWithoutEqualsSkipped) {
  const auto entries = ParsePortList(u"VSC1=/dev/pts/3;junk;;A8001234=COM7;=/x;VSC2=");
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].instanceId, u"VSC1");
  EXPECT_EQ(entries[0].path, u"/dev/pts/3");
  EXPECT_EQ(entries[1].instanceId, u"A8001234");
  EXPECT_EQ(entries[1].path, u"COM7");
  EXPECT_EQ(entries[2].instanceId, u"");
  EXPECT_EQ(entries[2].path, u"/x");
  EXPECT_EQ(entries[3].path, u"");
}

TEST(PortList, PathMayHoldFurtherEqualsSigns) {
  const auto entries = ParsePortList(u"VSC1=a=b");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].path, u"a=b");
}

TEST(PortList, EmptyTextHasNoEntry) {
  EXPECT_TRUE(ParsePortList(u"").empty());
  EXPECT_TRUE(ParsePortList(u";;").empty());
}

class PortListSearch : public ::testing::Test {
 protected:
  void TearDown() override {
    DiscardDiscoveryState();
    vorn_test::UnsetEnv("VORN_PORTS");
  }
};

TEST_F(PortListSearch, WalksTheEntriesThroughThePrefixTestAndTheHash) {
  vorn_test::SetEnv("VORN_PORTS",
                    "OTHER=/dev/a;FTDIBUS\\VID_0403+PID_6001+VSC00042A\\0000=/dev/b;vsc1234567=/dev/c;"
                    "noequals;A8001234=/dev/d");
  auto first = SearchNextDevice();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->portName, u"/dev/b");
  EXPECT_EQ(first->uniqueId, 4);
  auto second = SearchNextDevice();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->portName, u"/dev/d");
  EXPECT_EQ(second->uniqueId, 2);
  EXPECT_FALSE(SearchNextDevice());
  auto again = SearchNextDevice();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->portName, u"/dev/b");
}

TEST_F(PortListSearch, SetButEmptyMeansNoPortsAndNoLibraryProblem) {
  vorn_test::SetEnv("VORN_PORTS", "");
  EXPECT_FALSE(SearchNextDevice());
  FtdiFlags flags;
  EXPECT_FALSE(CurrentFtdiFlags(flags));
}

TEST_F(PortListSearch, ChangedListTakesEffectWhenTheListStartsAfresh) {
  vorn_test::SetEnv("VORN_PORTS", "VSC1111111=/dev/one");
  auto one = SearchNextDevice();
  ASSERT_TRUE(one);
  vorn_test::SetEnv("VORN_PORTS", "VSC2222222=/dev/two");
  EXPECT_FALSE(SearchNextDevice());  // still the list that held /dev/one
  auto two = SearchNextDevice();
  ASSERT_TRUE(two);
  EXPECT_EQ(two->portName, u"/dev/two");
}

}  // namespace
}  // namespace vorn_test
