// The representation's side as the host's string COM object.
#include <algorithm>
#include <cstring>

#include "support/bstr.h"
#include "support/qvx_string.h"

using QVX::HResult;
using Rep = QVXString::StringRep;

namespace {

QVX::VariantBool AsVariantBool(bool value) { return value ? QVX::kVariantTrue : QVX::kVariantFalse; }

bool EqualTexts(const char16_t *a, const char16_t *b) {
  for (std::size_t i = 0;; ++i) {
    if (a[i] != b[i]) return false;
    if (a[i] == 0) return true;
  }
}

// The foreign object's text arrives as a BSTR; null and empty are kept apart.
bool EqualToBstr(const char16_t *own, std::uint32_t ownLength, const char16_t *bstr) {
  if (ownLength == 0) return bstr == nullptr;
  if (!bstr) return false;
  std::uint32_t otherLength = QVX::BstrLength(bstr);
  std::uint32_t common = std::min(ownLength, otherLength);
  for (std::uint32_t i = 0; i < common; ++i)
    if (static_cast<std::uint16_t>(own[i]) != static_cast<std::uint16_t>(bstr[i])) return false;
  return ownLength == otherLength;
}

}  // namespace

HResult Rep::QueryInterface(const QVX::Guid &iid, void **out) {
  if (!out) return QVX::kPointer;
  if (iid == QVX::kIidIUnknown || iid == QVX::kIidIAutoQVXString || iid == QVX::kIidIQVXString) {
    AddRef();
    *out = static_cast<IQVXString *>(this);
    return QVX::kOk;
  }
  *out = nullptr;
  return QVX::kNoInterface;
}

std::uint32_t Rep::AddRef() { return static_cast<std::uint32_t>(refCount.fetch_add(1, std::memory_order_relaxed) + 1); }

std::uint32_t Rep::Release() {
  std::int32_t left = refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) Destroy();
  return static_cast<std::uint32_t>(left);
}

HResult Rep::AssignBSTR(QVX::Bstr text) {
  // The shared empty string is never written, whoever holds it.
  if (refCount.load(std::memory_order_acquire) >= 2 || this == QVXString::SharedEmpty()) return QVX::kFail;
  std::uint32_t count = 0;
  if (text) {
    std::uint32_t bstrLength = QVX::BstrLength(text);
    // An embedded 0 would end the text before its length says.
    while (count < bstrLength && text[count]) ++count;
    if (count >= capacity) return QVX::kFail;
    std::memcpy(Chars(), text, count * sizeof(char16_t));
  }
  Chars()[count] = 0;
  length = count + 1;
  narrowValid = 0;
  return QVX::kOk;
}

HResult Rep::GetBSTR(QVX::Bstr *out) {
  if (!out) return QVX::kFail;
  if (*out) {
    QVX::BstrFree(*out);
    *out = nullptr;
  }
  if (length > 1) {
    *out = QVX::BstrAlloc(Chars(), length - 1);
    if (!*out) return QVX::kOutOfMemory;
  }
  return QVX::kOk;
}

HResult Rep::IsEmpty(QVX::VariantBool *out) {
  if (!out) return QVX::kPointer;
  *out = AsVariantBool(length < 2);
  return QVX::kOk;
}

HResult Rep::GetLength(std::int32_t *out) {
  if (!out) return QVX::kPointer;
  *out = static_cast<std::int32_t>(length - 1);
  return QVX::kOk;
}

HResult Rep::IsEqual(IQVXString *other, QVX::VariantBool *out) {
  if (!out) return QVX::kPointer;
  *out = QVX::kVariantFalse;
  if (!other) return QVX::kPointer;
  if (other == static_cast<IQVXString *>(this)) {
    *out = QVX::kVariantTrue;
  } else if (other->GetKind() == QVX::kQVXStringKind) {
    *out = AsVariantBool(EqualTexts(Chars(), other->GetBuffer()));
  } else {
    QVX::Bstr text = nullptr;
    other->GetBSTR(&text);
    *out = AsVariantBool(EqualToBstr(Chars(), length - 1, text));
    QVX::BstrFree(text);
  }
  return QVX::kOk;
}

HResult Rep::IsShared(QVX::VariantBool *out) {
  if (!out) return QVX::kPointer;
  *out = AsVariantBool(refCount.load(std::memory_order_acquire) > 1);
  return QVX::kOk;
}

std::int32_t Rep::GetKind() { return QVX::kQVXStringKind; }

HResult Rep::CopyTo(std::int32_t size, char16_t *buffer) {
  if (!buffer) return QVX::kPointer;
  if (size < 0 || static_cast<std::uint32_t>(size) < length * sizeof(char16_t)) return QVX::kFail;
  std::memcpy(buffer, Chars(), length * sizeof(char16_t));
  return QVX::kOk;
}

HResult Rep::GetLengthAndCharSize(std::int32_t *outLength, std::int32_t *outSize) {
  if (!outLength || !outSize) return QVX::kPointer;
  *outLength = static_cast<std::int32_t>(length - 1);
  *outSize = sizeof(char16_t);
  return QVX::kOk;
}

HResult Rep::GetCapacity(std::int32_t *out) {
  if (!out) return QVX::kPointer;
  *out = static_cast<std::int32_t>(capacity - 1);
  return QVX::kOk;
}

HResult Rep::CreateString(std::int32_t n, IQVXString **out) {
  if (!out) return QVX::kPointer;
  *out = nullptr;
  if (n < 0) return QVX::kFail;
  if (static_cast<std::uint32_t>(n) >= QVXString::kMaxCapacity) return QVX::kOutOfMemory;
  StringRep *fresh = Make(static_cast<std::uint32_t>(n) + 1);
  if (!fresh) return QVX::kOutOfMemory;
  *out = fresh;
  return QVX::kOk;
}

HResult Rep::GetVariant(QVX::Variant *out) {
  if (!out) return QVX::kPointer;
  QVX::Bstr text = nullptr;
  if (length > 1) {
    text = QVX::BstrAlloc(Chars(), length - 1);
    if (!text) return QVX::kOutOfMemory;
  }
  out->vt = QVX::kVarTypeBstr;
  out->reserved1 = out->reserved2 = out->reserved3 = 0;
  out->llVal = 0;
  out->bstrVal = text;
  return QVX::kOk;
}

std::int32_t Rep::Length() { return static_cast<std::int32_t>(length - 1); }

void Rep::Destroy() { delete this; }

std::int32_t Rep::Reserved() { return 0; }

char16_t *Rep::GetBuffer() { return Chars(); }
