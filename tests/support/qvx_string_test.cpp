#include "support/qvx_string.h"

#include <gtest/gtest.h>

#include <string>

namespace vorn_test {
namespace {

std::int32_t ComCapacity(const QVXString &s) {
  std::int32_t capacity = -1;
  s.Interface()->GetCapacity(&capacity);
  return capacity;
}

TEST(QVXStringConstruction, EmptyAndNullTextsShareTheEmptyString) {
  QVXString a;
  QVXString b(u"");
  QVXString c(static_cast<const char16_t *>(nullptr));
  QVXString d(static_cast<const char *>(nullptr));
  QVXString e("");
  EXPECT_EQ(a.Interface(), b.Interface());
  EXPECT_EQ(a.Interface(), c.Interface());
  EXPECT_EQ(a.Interface(), d.Interface());
  EXPECT_EQ(a.Interface(), e.Interface());
  EXPECT_EQ(ComCapacity(a), 8);
  EXPECT_EQ(a.Capacity(), 9u);
  EXPECT_EQ(a.Interface()->Length(), 0);
  EXPECT_TRUE(a.IsShared());
  EXPECT_EQ(a.c_str()[0], u'\0');
}

TEST(QVXStringConstruction, StandardStringAlwaysGetsItsOwnRepresentation) {
  QVXString empty{std::u16string()};
  QVXString shared;
  EXPECT_NE(empty.Interface(), shared.Interface());
  EXPECT_EQ(empty.Capacity(), 8u);
  EXPECT_EQ(empty.RefCount(), 1);
  QVXString text{std::u16string(u"hello")};
  EXPECT_EQ(text, u"hello");
  EXPECT_EQ(text.Length(), 5u);
}

TEST(QVXStringConstruction, TextsKeepTheirCharactersAndLengths) {
  QVXString wide(u"COM12");
  EXPECT_EQ(wide.View(), u"COM12");
  EXPECT_EQ(wide.Capacity(), 8u);
  QVXString longer(u"a text longer than eight");
  EXPECT_EQ(longer.Capacity(), 25u);
  QVXString counted(u"abcdef", 3);
  EXPECT_EQ(counted, u"abc");
  QVXString narrow("plain ASCII");
  EXPECT_EQ(narrow, u"plain ASCII");
  // A standard string with an embedded 0 keeps only the text before it.
  QVXString cut{std::u16string(u"ab\0cd", 5)};
  EXPECT_EQ(cut.Length(), 2u);
}

TEST(QVXStringCopyOnWrite, CopiesShareUntilOneIsChanged) {
  QVXString original(u"shared");
  QVXString copy(original);
  EXPECT_EQ(copy.Interface(), original.Interface());
  EXPECT_EQ(original.RefCount(), 2);

  ASSERT_TRUE(copy.Append(u" text"));
  EXPECT_EQ(original, u"shared");
  EXPECT_EQ(copy, u"shared text");
  EXPECT_NE(copy.Interface(), original.Interface());
  EXPECT_EQ(original.RefCount(), 1);

  QVXString lowered(original);
  ASSERT_TRUE(lowered.Erase(0, 1));
  EXPECT_EQ(original, u"shared");
  EXPECT_EQ(lowered, u"hared");
}

TEST(QVXStringCopyOnWrite, AssignmentTakesTheNewReferenceFirst) {
  QVXString a(u"alpha");
  a = a;
  EXPECT_EQ(a, u"alpha");
  EXPECT_EQ(a.RefCount(), 1);
  QVXString b(u"beta");
  b = a;
  EXPECT_EQ(b.Interface(), a.Interface());
  EXPECT_EQ(a.RefCount(), 2);
  QVXString moved(std::move(b));
  EXPECT_EQ(moved, u"alpha");
  EXPECT_TRUE(b.IsEmpty());
  moved.Clear();
  EXPECT_TRUE(moved.IsEmpty());
  EXPECT_EQ(a.RefCount(), 1);
}

TEST(QVXStringCopyOnWrite, ToLowerChangesOnlyItsOwnCopy) {
  QVXString upper(u"COM PORT");
  QVXString lower(upper);
  ASSERT_TRUE(lower.ToLower());
  EXPECT_EQ(lower, u"com port");
  EXPECT_EQ(upper, u"COM PORT");
}

TEST(QVXStringGrowth, AppendBeyondCapacityGrowsByHalfTheNeededLength) {
  QVXString s(u"1234567");
  ASSERT_EQ(s.Capacity(), 8u);
  ASSERT_TRUE(s.Append(u'8'));
  EXPECT_EQ(s.Capacity(), 13u);
  EXPECT_EQ(s, u"12345678");

  QVXString t{std::u16string()};
  ASSERT_TRUE(t.Append(u"123456789"));
  EXPECT_EQ(t.Capacity(), 15u);

  // Room left: no new representation.
  const char16_t *before = s.c_str();
  ASSERT_TRUE(s.Append(u"9ab"));
  EXPECT_EQ(s.c_str(), before);
  EXPECT_EQ(s, u"123456789ab");
}

TEST(QVXStringGrowth, AppendingToTheEmptyStringNeverWritesIt) {
  QVXString a;
  QVXString b;
  ASSERT_TRUE(a.Append(u'x'));
  EXPECT_EQ(a, u"x");
  EXPECT_EQ(a.Capacity(), 9u);
  EXPECT_TRUE(b.IsEmpty());
  EXPECT_EQ(QVXString().c_str()[0], u'\0');
  ASSERT_TRUE(a.Append(u'\0'));
  EXPECT_EQ(a.Length(), 1u);
}

TEST(QVXStringGrowth, ReserveKeepsWhatFitsAndTerminatesIt) {
  QVXString s(u"a rather long text");
  ASSERT_TRUE(s.Reserve(40));
  EXPECT_EQ(s.Capacity(), 40u);
  const char16_t *kept = s.c_str();
  ASSERT_TRUE(s.Reserve(40));
  EXPECT_EQ(s.c_str(), kept);
  ASSERT_TRUE(s.Reserve(5));
  EXPECT_EQ(s.Capacity(), 8u);
  EXPECT_EQ(s, u"a rathe");

  ASSERT_TRUE(s.Reset(30));
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_EQ(s.Capacity(), 30u);
}

TEST(QVXStringGrowth, OversizedRequestsFailAndLeaveTheText) {
  QVXString s(u"keep");
  EXPECT_FALSE(s.Reserve(QVXString::kMaxCapacity + 1));
  EXPECT_FALSE(s.Reserve(0xFFFFFFFFu));
  EXPECT_EQ(s.GetWriteBuffer(0xFFFFFFFFu), nullptr);
  EXPECT_EQ(s.GetWriteBuffer(QVXString::kMaxCapacity), nullptr);
  EXPECT_FALSE(s.Reset(0xFFFFFFFFu));
  EXPECT_EQ(s, u"keep");
  EXPECT_EQ(s.Capacity(), 8u);
}

TEST(QVXStringEdit, EraseCutsMovesOrDoesNothing) {
  QVXString s(u"abcde");
  ASSERT_TRUE(s.Erase(2, 100));
  EXPECT_EQ(s, u"ab");

  QVXString middle(u"abcdef");
  ASSERT_TRUE(middle.Erase(1, 3));
  EXPECT_EQ(middle, u"adef");
  EXPECT_EQ(middle.Length(), 4u);

  QVXString same(u"abc");
  QVXString other(same);
  ASSERT_TRUE(same.Erase(2, 2));
  ASSERT_TRUE(same.Erase(3, 1));
  // Starting at or past the terminator must not stretch the text over the old room.
  ASSERT_TRUE(same.Erase(3, 9));
  ASSERT_TRUE(same.Erase(7, 9));
  EXPECT_EQ(same, u"abc");
  EXPECT_EQ(same.Interface(), other.Interface());
}

TEST(QVXStringEdit, ReplaceSwapsLimitsAndAppends) {
  QVXString s(u"one two three");
  ASSERT_TRUE(s.Replace(3, 4, QVXString(u"2")));
  EXPECT_EQ(s, u"one 2 three");

  ASSERT_TRUE(s.Replace(100, 6, QVXString(u"3 and more text")));
  EXPECT_EQ(s, u"one 2 3 and more text");

  QVXString end(u"abc");
  ASSERT_TRUE(end.Replace(5, 3, QVXString(u"def")));
  EXPECT_EQ(end, u"abcdef");

  QVXString drop(u"abcdef");
  ASSERT_TRUE(drop.Replace(2, 1, QVXString()));
  EXPECT_EQ(drop, u"adef");

  QVXString beyond(u"abc");
  EXPECT_FALSE(beyond.Replace(1, 4, QVXString(u"x")));
  EXPECT_EQ(beyond, u"abc");

  QVXString shared(u"shared");
  QVXString copy(shared);
  ASSERT_TRUE(copy.Replace(1, 0, QVXString(u"S")));
  EXPECT_EQ(copy, u"Shared");
  EXPECT_EQ(shared, u"shared");
}

TEST(QVXStringEdit, ReplaceGrowsToExactlyTheNewLength) {
  QVXString s(u"abcdefg");
  ASSERT_TRUE(s.Replace(1, 3, QVXString(u"12345")));
  EXPECT_EQ(s, u"abc12345efg");
  EXPECT_EQ(s.Capacity(), 12u);
}

TEST(QVXStringSelfReference, AppendOfItselfCopiesBeforeGrowing) {
  QVXString s(u"abcdefg");
  ASSERT_TRUE(s.Append(s));
  EXPECT_EQ(s, u"abcdefgabcdefg");
  ASSERT_TRUE(s.Append(s));
  EXPECT_EQ(s, u"abcdefgabcdefgabcdefgabcdefg");
  EXPECT_EQ(s.RefCount(), 1);

  QVXString t(u"1234567");
  ASSERT_TRUE(t.Append(t.c_str() + 3));
  EXPECT_EQ(t, u"12345674567");
  ASSERT_TRUE(t.Append(t.View().substr(0, 2)));
  EXPECT_EQ(t, u"1234567456712");
}

TEST(QVXStringSelfReference, ReplaceWithItselfUsesTheOldText) {
  QVXString s(u"abcdefg");
  ASSERT_TRUE(s.Replace(1, 3, s));
  EXPECT_EQ(s, u"abcabcdefgefg");
  QVXString t(u"xy");
  ASSERT_TRUE(t.Replace(0, 2, t));
  EXPECT_EQ(t, u"xyxy");
}

TEST(QVXStringNarrow, NarrowFormFollowsEveryChange) {
  QVXString s(u"ab");
  EXPECT_STREQ(s.Narrow(), "ab");
  const char *cached = s.Narrow();
  EXPECT_EQ(s.Narrow(), cached);
  ASSERT_TRUE(s.Append(u"cd"));
  EXPECT_STREQ(s.Narrow(), "abcd");
  ASSERT_TRUE(s.Erase(0, 1));
  EXPECT_STREQ(s.Narrow(), "bcd");
  ASSERT_TRUE(s.Replace(1, 0, QVXString(u"X")));
  EXPECT_STREQ(s.Narrow(), "Xcd");
  ASSERT_EQ(s.Interface()->AssignBSTR(nullptr), QVX::kOk);
  EXPECT_STREQ(s.Narrow(), "");
  EXPECT_STREQ(QVXString().Narrow(), "");
}

TEST(QVXStringNarrow, SharedStringGetsNarrowFormWithoutCopy) {
  QVXString s(u"text");
  QVXString copy(s);
  EXPECT_STREQ(copy.Narrow(), "text");
  EXPECT_EQ(copy.Interface(), s.Interface());
}

TEST(QVXStringWriteBuffer, ReusesAUniqueRoomyBufferAndForgetsTheNarrowCopy) {
  QVXString s(u"some old text");
  EXPECT_STREQ(s.Narrow(), "some old text");
  const char16_t *before = s.c_str();
  char16_t *buffer = s.GetWriteBuffer(5);
  ASSERT_EQ(buffer, before);
  EXPECT_TRUE(s.IsEmpty());
  buffer[0] = u'n';
  buffer[1] = u'e';
  buffer[2] = u'w';
  s.SetWrittenLength(3);
  EXPECT_EQ(s, u"new");
  EXPECT_STREQ(s.Narrow(), "new");
  // A second round frees the new copy once; a stale pointer would be freed twice.
  ASSERT_NE(s.GetWriteBuffer(2), nullptr);
  s.SetWrittenLength(0);
  ASSERT_NE(s.GetWriteBuffer(2), nullptr);
  EXPECT_STREQ(s.Narrow(), "");
}

TEST(QVXStringWriteBuffer, SharedOrSmallRepresentationsAreReplaced) {
  QVXString s(u"abc");
  QVXString copy(s);
  char16_t *buffer = s.GetWriteBuffer(30);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(s.Capacity(), 31u);
  EXPECT_EQ(copy, u"abc");
  for (int i = 0; i < 30; ++i) buffer[i] = u'x';
  // A length past the room is clipped to the capacity.
  s.SetWrittenLength(1000);
  EXPECT_EQ(s.Length(), 30u);

  char16_t *again = s.GetWriteBuffer(10);
  again[0] = u'o';
  again[1] = u'k';
  again[2] = 0;
  s.SetWrittenLength(8);
  EXPECT_EQ(s, u"ok");
}

}  // namespace
}  // namespace vorn_test
