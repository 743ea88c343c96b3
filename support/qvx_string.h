// QVXString: the driver's reference-counted, copy-on-write UTF-16 string.
// The handle is one pointer to the characters (never null); the block before
// them is the representation, which is also the host's string COM object.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/com_types.h"

namespace QVX {

inline constexpr Guid kIidIAutoQVXString = {
    0x2D3B7EC5, 0xBF24, 0x11CF, {0x97, 0xE6, 0x00, 0xC0, 0xDF, 0x49, 0x26, 0x97}};
inline constexpr Guid kIidIQVXString = {0x3904AA0E, 0x3E8D, 0x11D1, {0x99, 0x7F, 0x00, 0xC0, 0xDF, 0x49, 0x26, 0x97}};

// GetKind's answer for this implementation; IsEqual compares buffers directly when it sees it.
inline constexpr std::int32_t kQVXStringKind = 9;

}  // namespace QVX

class IQVXString;

// Methods 3 to 8 of the host's string object. The host calls these through the
// virtual table by position, so the declaration order is the binary interface:
// never reorder, insert or remove a method here or in IQVXString.
class IAutoQVXString : public QVX::IUnknownBase {
 public:
  virtual QVX::HResult QVX_COM_CALL AssignBSTR(QVX::Bstr text) = 0;
  virtual QVX::HResult QVX_COM_CALL GetBSTR(QVX::Bstr *out) = 0;
  virtual QVX::HResult QVX_COM_CALL IsEmpty(QVX::VariantBool *out) = 0;
  virtual QVX::HResult QVX_COM_CALL GetLength(std::int32_t *out) = 0;
  virtual QVX::HResult QVX_COM_CALL IsEqual(IQVXString *other, QVX::VariantBool *out) = 0;
  virtual QVX::HResult QVX_COM_CALL IsShared(QVX::VariantBool *out) = 0;

 protected:
  ~IAutoQVXString() = default;
};

// Methods 9 to 18; the destructor follows them in the table.
class IQVXString : public IAutoQVXString {
 public:
  virtual std::int32_t QVX_COM_CALL GetKind() = 0;
  virtual QVX::HResult QVX_COM_CALL CopyTo(std::int32_t size, char16_t *buffer) = 0;
  virtual QVX::HResult QVX_COM_CALL GetLengthAndCharSize(std::int32_t *outLength, std::int32_t *outSize) = 0;
  virtual QVX::HResult QVX_COM_CALL GetCapacity(std::int32_t *out) = 0;
  virtual QVX::HResult QVX_COM_CALL CreateString(std::int32_t n, IQVXString **out) = 0;
  virtual QVX::HResult QVX_COM_CALL GetVariant(QVX::Variant *out) = 0;
  virtual std::int32_t QVX_COM_CALL Length() = 0;
  virtual void QVX_COM_CALL Destroy() = 0;
  virtual std::int32_t QVX_COM_CALL Reserved() = 0;
  virtual char16_t *QVX_COM_CALL GetBuffer() = 0;

 protected:
  ~IQVXString() = default;
};

class QVXString {
 public:
  class StringRep;

  // The header of the one allocation; the characters follow it.
  class StringRepBase : public IQVXString {
   public:
    virtual ~StringRepBase();
    // Blocks are bigger than the class; they go back to the allocator whole.
    static void operator delete(void *block) { ::operator delete(block); }

    char *narrowCopy = nullptr;
    std::int32_t narrowValid = 0;
    std::atomic<std::int32_t> refCount{1};
    std::uint32_t capacity;
    std::uint32_t length = 1;

   protected:
    explicit StringRepBase(std::uint32_t cap) : capacity(cap) {}
  };

  class StringRep final : public StringRepBase {
   public:
    // A new representation holding capacity characters (at least 8) with one
    // reference and an empty text; null when too big or out of memory.
    static StringRep *Make(std::uint32_t capacity);
    static StringRep *FromChars(const char16_t *chars);
    char16_t *Chars();

    QVX::HResult QVX_COM_CALL QueryInterface(const QVX::Guid &iid, void **out) override;
    std::uint32_t QVX_COM_CALL AddRef() override;
    std::uint32_t QVX_COM_CALL Release() override;
    QVX::HResult QVX_COM_CALL AssignBSTR(QVX::Bstr text) override;
    QVX::HResult QVX_COM_CALL GetBSTR(QVX::Bstr *out) override;
    QVX::HResult QVX_COM_CALL IsEmpty(QVX::VariantBool *out) override;
    QVX::HResult QVX_COM_CALL GetLength(std::int32_t *out) override;
    QVX::HResult QVX_COM_CALL IsEqual(IQVXString *other, QVX::VariantBool *out) override;
    QVX::HResult QVX_COM_CALL IsShared(QVX::VariantBool *out) override;
    std::int32_t QVX_COM_CALL GetKind() override;
    QVX::HResult QVX_COM_CALL CopyTo(std::int32_t size, char16_t *buffer) override;
    QVX::HResult QVX_COM_CALL GetLengthAndCharSize(std::int32_t *outLength, std::int32_t *outSize) override;
    QVX::HResult QVX_COM_CALL GetCapacity(std::int32_t *out) override;
    QVX::HResult QVX_COM_CALL CreateString(std::int32_t n, IQVXString **out) override;
    QVX::HResult QVX_COM_CALL GetVariant(QVX::Variant *out) override;
    std::int32_t QVX_COM_CALL Length() override;
    void QVX_COM_CALL Destroy() override;
    std::int32_t QVX_COM_CALL Reserved() override;
    char16_t *QVX_COM_CALL GetBuffer() override;

   private:
    explicit StringRep(std::uint32_t cap) : StringRepBase(cap) {}
    friend class QVXString;
  };

  // Largest capacity in characters: keeps byte sizes and lengths far from wrapping on 32 bits.
  static constexpr std::uint32_t kMaxCapacity = 0x3FFFFFF0u;

  QVXString() noexcept;
  QVXString(const char16_t *text);
  QVXString(const char16_t *text, std::uint32_t count);
  // Converted from the system ANSI code page.
  explicit QVXString(const char *narrow);
  // Always a representation of its own, even for an empty text.
  explicit QVXString(std::u16string_view text);
  QVXString(const QVXString &other) noexcept;
  QVXString(QVXString &&other) noexcept;
  ~QVXString();

  QVXString &operator=(const QVXString &other) noexcept;
  QVXString &operator=(QVXString &&other) noexcept;

  // Adopts one reference that the caller already holds on one of our representations.
  static QVXString Attach(IQVXString *rep) noexcept;

  const char16_t *c_str() const noexcept { return text_; }
  std::u16string_view View() const noexcept;
  std::u16string ToU16() const { return std::u16string(View()); }
  std::uint32_t Length() const noexcept;
  std::uint32_t Capacity() const noexcept;
  bool IsEmpty() const noexcept;
  bool IsShared() const noexcept;
  std::int32_t RefCount() const noexcept;
  // The representation as the host's interface; no reference is added.
  IQVXString *Interface() const noexcept;

  // The modifying operations return false, and leave the text as it was,
  // when a size would exceed kMaxCapacity or memory runs out.
  bool MakeUnique();
  bool ToLower();
  // The text in the thread's ANSI code page, cached until the text changes.
  const char *Narrow() const;
  // Room for n characters written directly; finish with SetWrittenLength.
  char16_t *GetWriteBuffer(std::uint32_t n);
  // Ends the text after written characters (or at an earlier 0), clipped to the capacity.
  void SetWrittenLength(std::uint32_t written);
  bool Reset(std::uint32_t n);
  bool Reserve(std::uint32_t n);
  bool Append(const QVXString &other);
  bool Append(char16_t c);
  bool Append(const char16_t *text);
  bool Append(std::u16string_view text);
  bool Erase(std::uint32_t from, std::uint32_t to);
  bool Replace(std::uint32_t count, std::uint32_t at, const QVXString &other);
  void Clear() noexcept;

  friend bool operator==(const QVXString &a, const QVXString &b) noexcept { return a.View() == b.View(); }
  friend bool operator==(const QVXString &a, std::u16string_view b) noexcept { return a.View() == b; }
  friend bool operator==(const QVXString &a, const char16_t *b) noexcept {
    return a.View() == std::u16string_view(b ? b : u"");
  }

 private:
  explicit QVXString(StringRep *adopted) noexcept : text_(adopted->Chars()) {}
  static StringRep *SharedEmpty() noexcept;
  // The shared empty string for no units, else a new representation; one reference for the caller.
  static StringRep *Holding(const char16_t *units, std::size_t count);
  static void ReleaseRep(StringRep *rep) noexcept;
  StringRep *Rep() const noexcept { return StringRep::FromChars(text_); }
  bool MoveTo(std::uint32_t capacity);
  bool AppendUnits(const char16_t *units, std::uint32_t count);
  bool AppendForeign(const char16_t *units, std::size_t count);

  char16_t *text_;
};
