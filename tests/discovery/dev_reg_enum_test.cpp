// The list walk of DevRegEnum and the serial-number cut, over a scripted list.
#include <gtest/gtest.h>

#include <vector>

#include "discovery/dev_reg_enum.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {

class ScriptedEnum : public DevRegEnum {
 public:
  explicit ScriptedEnum(std::vector<std::u16string> ids, int failAt = -1) : ids_(std::move(ids)), failAt_(failAt) {
    nextIndex = 0;
  }
  bool Fetch(std::int32_t index) override {
    fetched.push_back(index);
    if (index == failAt_ || index >= static_cast<std::int32_t>(ids_.size())) return false;
    instanceId = ids_[index];
    devicePath = u"path" + ids_[index];
    return true;
  }
  void CloseList() override { ++closed; }
  std::vector<std::int32_t> fetched;
  int closed = 0;

 private:
  std::vector<std::u16string> ids_;
  int failAt_;
};

std::u16string Cut(std::u16string text, char16_t separator = u'+') { return ExtractSerial(text, separator); }

TEST(ExtractSerial, KeepsTheLastSeparatedPartUpToItsBackslash) {
  EXPECT_EQ(Cut(u"A+B+C\\D"), u"C");
  EXPECT_EQ(Cut(u"FTDIBUS\\VID_0403+PID_6001+VSC00042A\\0000"), u"VSC00042A");
  EXPECT_EQ(Cut(u"FTDIBUS\\VID_0403+PID_6001+\\0000"), u"");
}

TEST(ExtractSerial, WithoutSeparatorCutsAtTheFirstBackslash) { EXPECT_EQ(Cut(u"X\\Y&Z\\W"), u"X"); }

TEST(ExtractSerial, TextWithNeitherStaysUnchanged) {
  EXPECT_EQ(Cut(u"VSC1234567"), u"VSC1234567");
  EXPECT_EQ(Cut(u""), u"");
  EXPECT_EQ(Cut(u"ends+"), u"");
}

TEST(DevRegEnumNext, TwoDevicesThenTheEndClosesTheListOnce) {
  ScriptedEnum e({u"first", u"second"});
  ASSERT_TRUE(e.Next());
  EXPECT_EQ(e.CurrentIndex(), 0);
  EXPECT_EQ(e.GetInstanceId(), u"first");
  ASSERT_TRUE(e.Next());
  EXPECT_EQ(e.CurrentIndex(), 1);
  std::u16string path;
  EXPECT_TRUE(e.GetDevicePath(path));
  EXPECT_EQ(path, u"pathsecond");
  EXPECT_FALSE(e.Next());
  EXPECT_EQ(e.CurrentIndex(), -1);
  EXPECT_EQ(e.closed, 1);
  // Further calls answer without asking the list again.
  EXPECT_FALSE(e.Next());
  EXPECT_FALSE(e.Next());
  EXPECT_EQ(e.fetched, (std::vector<std::int32_t>{0, 1, 2}));
  EXPECT_EQ(e.closed, 1);
}

TEST(DevRegEnumNext, AFailingDeviceHidesTheDevicesBehindIt) {
  ScriptedEnum e({u"a", u"b", u"c"}, 1);
  EXPECT_TRUE(e.Next());
  EXPECT_FALSE(e.Next());
  EXPECT_FALSE(e.Next());
  EXPECT_EQ(e.fetched, (std::vector<std::int32_t>{0, 1}));
}

TEST(DevRegEnumNext, AnEmptyListEndsAtOnce) {
  ScriptedEnum e({});
  EXPECT_FALSE(e.Next());
  EXPECT_EQ(e.closed, 1);
}

}  // namespace
}  // namespace vorn_test
