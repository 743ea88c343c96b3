#include "support/qvx_string.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <new>
#include <stdexcept>

#include "support/code_page.h"

static_assert(std::atomic<std::int32_t>::is_always_lock_free);
static_assert(sizeof(std::atomic<std::int32_t>) == sizeof(std::int32_t));
// The host reads the header as six 32-bit fields on the 32-bit build.
static_assert(sizeof(void *) != 4 || sizeof(QVXString::StringRep) == 24);

namespace {

using Rep = QVXString::StringRep;

constexpr std::uint32_t kMinCapacity = 8;
constexpr std::uint32_t kEmptyCapacity = 9;

std::uint32_t CheckedUnits(std::size_t count) {
  if (count >= QVXString::kMaxCapacity) throw std::length_error("QVXString too long");
  return static_cast<std::uint32_t>(count);
}

std::size_t UnitsToZero(const char16_t *text, std::size_t limit = SIZE_MAX) {
  std::size_t n = 0;
  while (n < limit && text[n]) ++n;
  return n;
}

Rep *MakeOrThrow(std::uint32_t capacity) {
  Rep *rep = Rep::Make(capacity);
  if (!rep) throw std::bad_alloc();
  return rep;
}

Rep *MakeHolding(const char16_t *units, std::uint32_t count) {
  Rep *rep = MakeOrThrow(count + 1);
  if (count) std::memcpy(rep->Chars(), units, count * sizeof(char16_t));
  rep->Chars()[count] = 0;
  rep->length = count + 1;
  return rep;
}

std::u16string_view UpToZero(std::u16string_view text) { return text.substr(0, text.find(u'\0')); }

bool IsUnique(const Rep *rep) { return rep->refCount.load(std::memory_order_acquire) == 1; }

}  // namespace

QVXString::StringRepBase::~StringRepBase() { delete[] narrowCopy; }

QVXString::StringRep *QVXString::StringRep::Make(std::uint32_t capacity) {
  capacity = std::max(capacity, kMinCapacity);
  if (capacity > kMaxCapacity) return nullptr;
  void *block = ::operator new (sizeof(StringRep) + std::size_t{capacity} * sizeof(char16_t), std::nothrow);
  if (!block) return nullptr;
  auto *rep = ::new (block) StringRep(capacity);
  rep->Chars()[0] = 0;
  return rep;
}

QVXString::StringRep *QVXString::StringRep::FromChars(const char16_t *chars) {
  return reinterpret_cast<StringRep *>(const_cast<unsigned char *>(reinterpret_cast<const unsigned char *>(chars)) -
                                       sizeof(StringRep));
}

char16_t *QVXString::StringRep::Chars() {
  return reinterpret_cast<char16_t *>(reinterpret_cast<unsigned char *>(this) + sizeof(StringRep));
}

// Lives in static storage with the process's own reference, so no release can free it.
QVXString::StringRep *QVXString::SharedEmpty() noexcept {
  static StringRep *const empty = [] {
    alignas(StringRep) static unsigned char storage[sizeof(StringRep) + kEmptyCapacity * sizeof(char16_t)];
    auto *rep = ::new (storage) StringRep(kEmptyCapacity);
    rep->Chars()[0] = 0;
    return rep;
  }();
  return empty;
}

void QVXString::ReleaseRep(StringRep *rep) noexcept {
  if (rep->refCount.fetch_sub(1, std::memory_order_acq_rel) == 1) rep->Destroy();
}

QVXString::StringRep *QVXString::Holding(const char16_t *units, std::size_t count) {
  if (count == 0) {
    StringRep *empty = SharedEmpty();
    empty->refCount.fetch_add(1, std::memory_order_relaxed);
    return empty;
  }
  return MakeHolding(units, CheckedUnits(count));
}

QVXString::QVXString() noexcept : QVXString(Holding(nullptr, 0)) {}

QVXString::QVXString(const char16_t *text) : QVXString(Holding(text, text ? UnitsToZero(text) : 0)) {}

QVXString::QVXString(const char16_t *text, std::uint32_t count)
    : QVXString(Holding(text, text ? UnitsToZero(text, count) : 0)) {}

QVXString::QVXString(const char *narrow) : QVXString() {
  if (!narrow || !*narrow) return;
  std::u16string wide;
  if (QVX::NarrowToWide(0, narrow, wide, QVX::kCodePageSystemAnsi) && !wide.empty())
    *this = QVXString(std::u16string_view(wide));
}

QVXString::QVXString(std::u16string_view text)
    : QVXString(MakeHolding(UpToZero(text).data(), CheckedUnits(UpToZero(text).size()))) {}

QVXString::QVXString(const QVXString &other) noexcept : text_(other.text_) { Rep()->AddRef(); }

QVXString::QVXString(QVXString &&other) noexcept : QVXString() { std::swap(text_, other.text_); }

QVXString::~QVXString() { ReleaseRep(Rep()); }

QVXString &QVXString::operator=(const QVXString &other) noexcept {
  other.Rep()->AddRef();
  StringRep *old = Rep();
  text_ = other.text_;
  ReleaseRep(old);
  return *this;
}

QVXString &QVXString::operator=(QVXString &&other) noexcept {
  std::swap(text_, other.text_);
  return *this;
}

QVXString QVXString::Attach(IQVXString *rep) noexcept { return QVXString(static_cast<StringRep *>(rep)); }

std::u16string_view QVXString::View() const noexcept { return {text_, Rep()->length - 1}; }
std::uint32_t QVXString::Length() const noexcept { return Rep()->length - 1; }
std::uint32_t QVXString::Capacity() const noexcept { return Rep()->capacity; }
bool QVXString::IsEmpty() const noexcept { return Rep()->length < 2; }
bool QVXString::IsShared() const noexcept { return Rep()->refCount.load(std::memory_order_acquire) > 1; }
std::int32_t QVXString::RefCount() const noexcept { return Rep()->refCount.load(std::memory_order_acquire); }
IQVXString *QVXString::Interface() const noexcept { return Rep(); }

bool QVXString::MoveTo(std::uint32_t capacity) {
  StringRep *old = Rep();
  StringRep *fresh = StringRep::Make(capacity);
  if (!fresh) return false;
  std::uint32_t keep = std::min(old->length, fresh->capacity);
  std::memcpy(fresh->Chars(), old->Chars(), keep * sizeof(char16_t));
  fresh->Chars()[keep - 1] = 0;
  fresh->length = keep;
  text_ = fresh->Chars();
  ReleaseRep(old);
  return true;
}

bool QVXString::MakeUnique() {
  StringRep *rep = Rep();
  if (IsUnique(rep)) {
    rep->narrowValid = 0;
    return true;
  }
  return MoveTo(rep->capacity);
}

bool QVXString::ToLower() {
  if (IsEmpty()) return true;
  if (!MakeUnique()) return false;
  StringRep *rep = Rep();
  char16_t *chars = rep->Chars();
  for (std::uint32_t i = 0; i + 1 < rep->length; ++i) {
    // Surrogate halves are not characters of their own; leave them alone.
    if (chars[i] >= 0xD800 && chars[i] <= 0xDFFF) continue;
    chars[i] = static_cast<char16_t>(std::towlower(static_cast<std::wint_t>(chars[i])));
  }
  return true;
}

const char *QVXString::Narrow() const {
  StringRep *rep = Rep();
  // The shared empty string is used by every thread at once; it gets no cache.
  if (rep->length < 2) return "";
  if (rep->narrowValid != 1) {
    delete[] rep->narrowCopy;
    rep->narrowCopy = nullptr;
    std::string narrow = QVX::WideToAnsi(View());
    char *copy = new (std::nothrow) char[narrow.size() + 1];
    if (!copy) return "";
    std::memcpy(copy, narrow.c_str(), narrow.size() + 1);
    rep->narrowCopy = copy;
    rep->narrowValid = 1;
  }
  return rep->narrowCopy;
}

char16_t *QVXString::GetWriteBuffer(std::uint32_t n) {
  if (n >= kMaxCapacity) return nullptr;
  StringRep *rep = Rep();
  if (IsUnique(rep) && rep->capacity >= n + 1) {
    rep->narrowValid = 0;
    delete[] rep->narrowCopy;
    rep->narrowCopy = nullptr;
  } else {
    StringRep *fresh = StringRep::Make(n + 1);
    if (!fresh) return nullptr;
    text_ = fresh->Chars();
    ReleaseRep(rep);
    rep = fresh;
  }
  rep->length = 1;
  rep->Chars()[0] = 0;
  rep->Chars()[n] = 0;
  return rep->Chars();
}

void QVXString::SetWrittenLength(std::uint32_t written) {
  if (!MakeUnique()) return;
  StringRep *rep = Rep();
  char16_t *chars = rep->Chars();
  std::uint32_t end = std::min(written, rep->capacity - 1);
  std::uint32_t n = 0;
  while (n < end && chars[n]) ++n;
  chars[n] = 0;
  rep->length = n + 1;
  rep->narrowValid = 0;
}

bool QVXString::Reset(std::uint32_t n) {
  StringRep *fresh = StringRep::Make(n);
  if (!fresh) return false;
  ReleaseRep(Rep());
  text_ = fresh->Chars();
  return true;
}

bool QVXString::Reserve(std::uint32_t n) {
  if (n > kMaxCapacity) return false;
  StringRep *rep = Rep();
  if (IsUnique(rep) && rep->capacity == std::max(n, kMinCapacity)) return true;
  return MoveTo(n);
}

// units must not lie in this handle's representation: it may be freed here.
bool QVXString::AppendUnits(const char16_t *units, std::uint32_t count) {
  if (count == 0) return true;
  StringRep *rep = Rep();
  if (count > kMaxCapacity - rep->length) return false;
  std::uint32_t total = rep->length + count;
  if (total > rep->capacity) {
    std::uint64_t grown = std::uint64_t{total} * 3 / 2;
    if (!MoveTo(static_cast<std::uint32_t>(std::min<std::uint64_t>(grown, kMaxCapacity)))) return false;
  } else if (!MakeUnique()) {
    return false;
  }
  rep = Rep();
  std::memcpy(rep->Chars() + rep->length - 1, units, count * sizeof(char16_t));
  rep->Chars()[total - 1] = 0;
  rep->length = total;
  rep->narrowValid = 0;
  return true;
}

bool QVXString::AppendForeign(const char16_t *units, std::size_t count) {
  if (count >= kMaxCapacity) return false;
  StringRep *rep = Rep();
  const char16_t *own = rep->Chars();
  if (units >= own && units < own + rep->capacity) {
    std::u16string copy(units, count);
    return AppendUnits(copy.data(), static_cast<std::uint32_t>(count));
  }
  return AppendUnits(units, static_cast<std::uint32_t>(count));
}

bool QVXString::Append(const QVXString &other) {
  // The extra reference keeps the source alive when it is this very representation.
  QVXString source(other);
  return AppendUnits(source.text_, source.Length());
}

bool QVXString::Append(char16_t c) {
  if (c == 0) return true;
  return AppendUnits(&c, 1);
}

bool QVXString::Append(const char16_t *text) {
  if (!text) return true;
  return AppendForeign(text, UnitsToZero(text));
}

bool QVXString::Append(std::u16string_view text) {
  text = UpToZero(text);
  return AppendForeign(text.data(), text.size());
}

bool QVXString::Erase(std::uint32_t from, std::uint32_t to) {
  std::uint32_t textLength = Length();
  if (from >= to || from >= textLength) return true;
  if (!MakeUnique()) return false;
  StringRep *rep = Rep();
  char16_t *chars = rep->Chars();
  if (to < textLength) {
    std::memmove(chars + from, chars + to, (rep->length - to) * sizeof(char16_t));
    rep->length -= to - from;
  } else {
    chars[from] = 0;
    rep->length = from + 1;
  }
  return true;
}

bool QVXString::Replace(std::uint32_t count, std::uint32_t at, const QVXString &other) {
  QVXString source(other);
  std::uint32_t textLength = Length();
  if (at == textLength) return AppendUnits(source.text_, source.Length());
  if (at > textLength) return false;
  count = std::min(count, textLength - at);
  std::uint32_t added = source.Length();
  std::uint32_t kept = Rep()->length - count;
  if (added > kMaxCapacity - kept) return false;
  std::uint32_t total = kept + added;
  // Grow before erasing, so a failed allocation leaves the text as it was.
  if (total > Rep()->capacity && !Reserve(total)) return false;
  if (!Erase(at, at + count)) return false;
  if (added == 0) return true;
  if (!MakeUnique()) return false;
  StringRep *rep = Rep();
  char16_t *chars = rep->Chars();
  std::memmove(chars + at + added, chars + at, (rep->length - at) * sizeof(char16_t));
  std::memcpy(chars + at, source.text_, added * sizeof(char16_t));
  rep->length += added;
  return true;
}

void QVXString::Clear() noexcept { *this = QVXString(); }
