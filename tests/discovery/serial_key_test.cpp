// The prefix test, the remainder and the unique identifier of a serial number.
#include <gtest/gtest.h>

#include "discovery/serial_key.h"

namespace vorn_test {

using namespace OpenPlotr;

namespace {

TEST(SerialKey, VscKeyKeepsItsTextAfterThePrefix) {
  EXPECT_EQ(VornSerialRemainder(u"VSC00042A"), u"00042A");
  EXPECT_EQ(VornSerialRemainder(u"VSC1234567"), u"1234567");
}

TEST(SerialKey, A800KeyKeepsItsLastZeroInTheRemainder) { EXPECT_EQ(VornSerialRemainder(u"A8001234"), u"01234"); }

TEST(SerialKey, PrefixesAreCaseSensitiveAndWhole) {
  for (const char16_t *key : {u"vsc00042A", u"Vsc00042A", u"a8001234", u"A80", u"VS", u"", u"XVSC123", u"A8101234"}) {
    SCOPED_TRACE(std::u16string_view(key).size());
    EXPECT_FALSE(VornSerialRemainder(key).has_value());
  }
  EXPECT_EQ(VornSerialRemainder(u"VSC"), u"");
  EXPECT_EQ(VornSerialRemainder(u"A800"), u"0");
}

TEST(UniqueId, WorkedExamples) {
  EXPECT_EQ(UniqueIdFromSerial(u"00042A"), 4);      // part "04"
  EXPECT_EQ(UniqueIdFromSerial(u"1234567"), 5465);  // part "345"
  EXPECT_EQ(UniqueIdFromSerial(u"01234"), 2);       // part "2"
}

TEST(UniqueId, LettersCountFromTheCodeOfZeroInBase42) {
  EXPECT_EQ(UniqueIdFromSerial(u"xxAZxx"), 17 * 42 + 42);
  EXPECT_EQ(UniqueIdFromSerial(u"xxazxx"), 49 * 42 + 74);
}

TEST(UniqueId, ShortRemaindersNeverReadPastTheText) {
  EXPECT_EQ(UniqueIdFromSerial(u""), 0);
  EXPECT_EQ(UniqueIdFromSerial(u"7"), 0);
  EXPECT_EQ(UniqueIdFromSerial(u"12"), 0);
  EXPECT_EQ(UniqueIdFromSerial(u"123"), 3);
  EXPECT_EQ(UniqueIdFromSerial(u"1234"), 0);
}

TEST(UniqueId, LongSerialNumbersWrapModulo2To32) {
  const std::u16string text = u"00ZZZZZZZZZZZZZZZZZZ00";
  std::uint64_t expected = 0;
  for (int i = 0; i < 18; ++i) expected = (expected * 42 + 42) % (1ull << 32);
  EXPECT_EQ(static_cast<std::uint32_t>(UniqueIdFromSerial(text)), expected);
  // Characters below '0' subtract, wrapping the same way.
  EXPECT_EQ(UniqueIdFromSerial(u"xx/xx"), -1);
}

}  // namespace
}  // namespace vorn_test
