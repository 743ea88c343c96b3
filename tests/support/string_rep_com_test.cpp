#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/bstr.h"
#include "support/qvx_string.h"

namespace vorn_test {
namespace {

using QVX::Bstr;
using QVX::HResult;

constexpr QVX::Guid kOtherIid = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

// A string object of another implementation: only its BSTR is comparable.
class ForeignString final : public IQVXString {
 public:
  ForeignString(const char16_t *text, std::uint32_t length) : text_(text), length_(length) {}
  int bstrRequests = 0;

  HResult QVX_COM_CALL QueryInterface(const QVX::Guid &, void **out) override {
    *out = nullptr;
    return QVX::kNoInterface;
  }
  std::uint32_t QVX_COM_CALL AddRef() override { return 1; }
  std::uint32_t QVX_COM_CALL Release() override { return 1; }
  HResult QVX_COM_CALL AssignBSTR(Bstr) override { return QVX::kFail; }
  HResult QVX_COM_CALL GetBSTR(Bstr *out) override {
    ++bstrRequests;
    *out = text_ ? QVX::BstrAlloc(text_, length_) : nullptr;
    return QVX::kOk;
  }
  HResult QVX_COM_CALL IsEmpty(QVX::VariantBool *) override { return QVX::kFail; }
  HResult QVX_COM_CALL GetLength(std::int32_t *) override { return QVX::kFail; }
  HResult QVX_COM_CALL IsEqual(IQVXString *, QVX::VariantBool *) override { return QVX::kFail; }
  HResult QVX_COM_CALL IsShared(QVX::VariantBool *) override { return QVX::kFail; }
  std::int32_t QVX_COM_CALL GetKind() override { return 1; }
  HResult QVX_COM_CALL CopyTo(std::int32_t, char16_t *) override { return QVX::kFail; }
  HResult QVX_COM_CALL GetLengthAndCharSize(std::int32_t *, std::int32_t *) override { return QVX::kFail; }
  HResult QVX_COM_CALL GetCapacity(std::int32_t *) override { return QVX::kFail; }
  HResult QVX_COM_CALL CreateString(std::int32_t, IQVXString **) override { return QVX::kFail; }
  HResult QVX_COM_CALL GetVariant(QVX::Variant *) override { return QVX::kFail; }
  std::int32_t QVX_COM_CALL Length() override { return 0; }
  void QVX_COM_CALL Destroy() override {}
  std::int32_t QVX_COM_CALL Reserved() override { return 0; }
  char16_t *QVX_COM_CALL GetBuffer() override { return nullptr; }

 private:
  const char16_t *text_;
  std::uint32_t length_;
};

bool Equal(const QVXString &s, IQVXString *other) {
  QVX::VariantBool result = 1;
  EXPECT_EQ(s.Interface()->IsEqual(other, &result), QVX::kOk);
  EXPECT_TRUE(result == QVX::kVariantTrue || result == QVX::kVariantFalse);
  return result == QVX::kVariantTrue;
}

TEST(StringRepInterface, QueryInterfaceAnswersTheThreeInterfacesWithItself) {
  QVXString s(u"text");
  IQVXString *rep = s.Interface();
  for (const QVX::Guid &iid : {QVX::kIidIUnknown, QVX::kIidIAutoQVXString, QVX::kIidIQVXString}) {
    void *out = nullptr;
    ASSERT_EQ(rep->QueryInterface(iid, &out), QVX::kOk);
    EXPECT_EQ(out, static_cast<void *>(rep));
  }
  EXPECT_EQ(s.RefCount(), 4);
  void *out = &out;
  EXPECT_EQ(rep->QueryInterface(kOtherIid, &out), QVX::kNoInterface);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(rep->Release(), 3u);
  EXPECT_EQ(rep->Release(), 2u);
  EXPECT_EQ(rep->Release(), 1u);
}

TEST(StringRepInterface, InterfaceReferenceOutlivesTheHandle) {
  IQVXString *rep = nullptr;
  {
    QVXString s(u"kept alive");
    void *out = nullptr;
    ASSERT_EQ(s.Interface()->QueryInterface(QVX::kIidIQVXString, &out), QVX::kOk);
    rep = static_cast<IQVXString *>(out);
  }
  EXPECT_EQ(std::u16string(rep->GetBuffer()), u"kept alive");
  EXPECT_EQ(rep->Release(), 0u);
}

TEST(StringRepInterface, SizeQueriesReportTextAndRoom) {
  QVXString s(u"abcdefghij");
  IQVXString *rep = s.Interface();
  std::int32_t length = 0, charSize = 0, capacity = 0;
  QVX::VariantBool empty = 1, shared = 1;
  EXPECT_EQ(rep->GetLength(&length), QVX::kOk);
  EXPECT_EQ(length, 10);
  EXPECT_EQ(rep->GetLengthAndCharSize(&length, &charSize), QVX::kOk);
  EXPECT_EQ(charSize, 2);
  EXPECT_EQ(rep->GetCapacity(&capacity), QVX::kOk);
  EXPECT_EQ(capacity, 10);
  EXPECT_EQ(rep->Length(), 10);
  EXPECT_EQ(rep->GetKind(), 9);
  EXPECT_EQ(rep->Reserved(), 0);
  EXPECT_EQ(rep->GetBuffer(), s.c_str());
  EXPECT_EQ(rep->IsEmpty(&empty), QVX::kOk);
  EXPECT_EQ(empty, QVX::kVariantFalse);
  EXPECT_EQ(rep->IsShared(&shared), QVX::kOk);
  EXPECT_EQ(shared, QVX::kVariantFalse);
  QVXString copy(s);
  rep->IsShared(&shared);
  EXPECT_EQ(shared, QVX::kVariantTrue);
  QVXString().Interface()->IsEmpty(&empty);
  EXPECT_EQ(empty, QVX::kVariantTrue);
}

TEST(StringRepAssignBstr, FillsOnlyAPrivateRepresentationWithinItsCapacity) {
  QVXString s{std::u16string()};
  Bstr text = QVX::BstrAlloc(u"1234567", 7);
  ASSERT_EQ(s.Interface()->AssignBSTR(text), QVX::kOk);
  EXPECT_EQ(s, u"1234567");

  Bstr tooLong = QVX::BstrAlloc(u"12345678", 8);
  EXPECT_EQ(s.Interface()->AssignBSTR(tooLong), QVX::kFail);
  EXPECT_EQ(s, u"1234567");
  EXPECT_EQ(s.Capacity(), 8u);

  QVXString copy(s);
  Bstr other = QVX::BstrAlloc(u"abc", 3);
  EXPECT_EQ(s.Interface()->AssignBSTR(other), QVX::kFail);
  EXPECT_EQ(s, u"1234567");
  EXPECT_EQ(copy, u"1234567");
  copy.Clear();

  ASSERT_EQ(s.Interface()->AssignBSTR(nullptr), QVX::kOk);
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_EQ(QVXString().Interface()->AssignBSTR(other), QVX::kFail);
  EXPECT_TRUE(QVXString().IsEmpty());
  QVX::BstrFree(text);
  QVX::BstrFree(tooLong);
  QVX::BstrFree(other);
}

TEST(StringRepBstr, GetBstrGivesACopyOrNullForEmpty) {
  QVXString s(u"hello");
  EXPECT_EQ(s.Interface()->GetBSTR(nullptr), QVX::kFail);
  Bstr out = nullptr;
  ASSERT_EQ(s.Interface()->GetBSTR(&out), QVX::kOk);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(QVX::BstrLength(out), 5u);
  EXPECT_EQ(std::u16string(out), u"hello");
  // An existing BSTR in out is freed and replaced (leak checkers watch this).
  ASSERT_EQ(QVXString().Interface()->GetBSTR(&out), QVX::kOk);
  EXPECT_EQ(out, nullptr);

  QVX::Variant value;
  ASSERT_EQ(s.Interface()->GetVariant(&value), QVX::kOk);
  EXPECT_EQ(value.vt, QVX::kVarTypeBstr);
  EXPECT_EQ(std::u16string(value.bstrVal), u"hello");
  QVX::VariantRelease(&value);
  ASSERT_EQ(QVXString().Interface()->GetVariant(&value), QVX::kOk);
  EXPECT_EQ(value.vt, QVX::kVarTypeBstr);
  EXPECT_EQ(value.bstrVal, nullptr);
}

TEST(StringRepCopyTo, NeedsRoomForTheTerminatorInBytes) {
  QVXString s(u"abc");
  char16_t buffer[6];
  std::memset(buffer, 0x55, sizeof buffer);
  EXPECT_EQ(s.Interface()->CopyTo(7, buffer), QVX::kFail);
  EXPECT_EQ(buffer[0], 0x5555);
  ASSERT_EQ(s.Interface()->CopyTo(8, buffer), QVX::kOk);
  EXPECT_EQ(std::u16string(buffer), u"abc");
  EXPECT_EQ(buffer[3], u'\0');
  EXPECT_EQ(buffer[4], 0x5555);
  EXPECT_EQ(s.Interface()->CopyTo(-1, buffer), QVX::kFail);
}

TEST(StringRepCreateString, MakesAPrivateEmptyStringWithRoomForN) {
  QVXString s;
  IQVXString *made = nullptr;
  ASSERT_EQ(s.Interface()->CreateString(20, &made), QVX::kOk);
  ASSERT_NE(made, nullptr);
  std::int32_t capacity = 0;
  made->GetCapacity(&capacity);
  EXPECT_EQ(capacity, 20);
  Bstr text = QVX::BstrAlloc(u"filled by the host", 18);
  EXPECT_EQ(made->AssignBSTR(text), QVX::kOk);
  QVX::BstrFree(text);
  QVXString adopted = QVXString::Attach(made);
  EXPECT_EQ(adopted, u"filled by the host");
  EXPECT_EQ(adopted.RefCount(), 1);

  ASSERT_EQ(s.Interface()->CreateString(3, &made), QVX::kOk);
  made->GetCapacity(&capacity);
  EXPECT_EQ(capacity, 7);
  EXPECT_EQ(made->Release(), 0u);

  EXPECT_EQ(s.Interface()->CreateString(0x7FFFFFFF, &made), QVX::kOutOfMemory);
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(s.Interface()->CreateString(-1, &made), QVX::kFail);
}

TEST(StringRepIsEqual, OwnKindComparesBuffers) {
  QVXString a(u"same"), b(u"same"), c(u"samE"), d(u"sam");
  EXPECT_TRUE(Equal(a, a.Interface()));
  EXPECT_TRUE(Equal(a, b.Interface()));
  EXPECT_FALSE(Equal(a, c.Interface()));
  EXPECT_FALSE(Equal(a, d.Interface()));
  EXPECT_FALSE(Equal(d, a.Interface()));
  EXPECT_TRUE(Equal(QVXString(), QVXString{std::u16string()}.Interface()));
}

TEST(StringRepIsEqual, ForeignObjectComparesThroughItsBstr) {
  ForeignString emptyButNotNull(u"", 0);
  ForeignString null(nullptr, 0);
  ForeignString same(u"abc", 3);
  ForeignString longer(u"abcd", 4);
  ForeignString high(u"ab\xFF01", 3);
  QVXString empty;
  QVXString abc(u"abc");

  EXPECT_FALSE(Equal(empty, &emptyButNotNull));
  EXPECT_TRUE(Equal(empty, &null));
  EXPECT_FALSE(Equal(abc, &null));
  EXPECT_TRUE(Equal(abc, &same));
  EXPECT_FALSE(Equal(abc, &longer));
  EXPECT_FALSE(Equal(abc, &high));
  EXPECT_EQ(same.bstrRequests, 1);

  QVX::VariantBool result = 1;
  EXPECT_EQ(abc.Interface()->IsEqual(nullptr, &result), QVX::kPointer);
  EXPECT_EQ(result, QVX::kVariantFalse);
}

}  // namespace
}  // namespace vorn_test
