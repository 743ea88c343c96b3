#include "support/string_stream.h"

#include <algorithm>

namespace QVX {

namespace {

std::uint32_t Doubled(std::uint32_t capacity) {
  return capacity >= QVXString::kMaxCapacity / 2 ? QVXString::kMaxCapacity : capacity * 2;
}

}  // namespace

// The buffer is made private first: its characters may be written through.
MemStreamBufBase::Buffer StringStreamBuf::GetBuffer() {
  if (!Begin()) return {nullptr, 0, 0};
  return {chars_, text_.Capacity(), written_};
}

// The written text moves along; the string's length is brought up to date first.
MemStreamBufBase::Buffer StringStreamBuf::GrowBuffer(std::uint32_t capacity) {
  if (!Begin()) return {nullptr, 0, 0};
  text_.SetWrittenLength(written_);
  if (capacity <= written_ || !text_.Reserve(capacity)) return {nullptr, text_.Capacity(), written_};
  chars_ = const_cast<char16_t *>(text_.c_str());
  return {chars_, text_.Capacity(), written_};
}

bool StringStreamBuf::Begin() {
  if (!started_) {
    // The string may be shared with whoever gave it; write into a private copy.
    if (!text_.MakeUnique()) return false;
    written_ = text_.Length();
    chars_ = const_cast<char16_t *>(text_.c_str());
    started_ = true;
  }
  if (handedOut_) {
    std::uint32_t capacity = text_.Capacity();
    std::uint32_t wanted = capacity - written_ - 1 >= 8 ? capacity : Doubled(capacity);
    if (text_.IsShared() || wanted != capacity) {
      if (!text_.Reserve(wanted)) return false;
      if (!text_.MakeUnique()) return false;
    }
    chars_ = const_cast<char16_t *>(text_.c_str());
    handedOut_ = false;
  }
  return true;
}

bool StringStreamBuf::PutUnit(char16_t unit) {
  if (!Begin()) return false;
  // One place stays free for the terminator that str writes.
  if (written_ + 1 >= text_.Capacity() && !GrowBuffer(Doubled(text_.Capacity())).chars) return false;
  chars_[written_++] = unit;
  return true;
}

bool StringStreamBuf::PutWide(wchar_t c) {
  auto value = static_cast<std::uint32_t>(c);
  if (value > 0xFFFFu && value <= 0x10FFFFu) {
    value -= 0x10000u;
    return PutUnit(static_cast<char16_t>(0xD800u + (value >> 10))) &&
           PutUnit(static_cast<char16_t>(0xDC00u + (value & 0x3FFu)));
  }
  return PutUnit(static_cast<char16_t>(value > 0xFFFFu ? 0xFFFDu : value));
}

bool StringStreamBuf::PutUnits(const char16_t *units, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (!PutUnit(units[i])) return false;
  return true;
}

StringStreamBuf::int_type StringStreamBuf::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  return PutWide(traits_type::to_char_type(c)) ? c : traits_type::eof();
}

std::streamsize StringStreamBuf::xsputn(const wchar_t *text, std::streamsize count) {
  std::streamsize done = 0;
  while (done < count && PutWide(text[done])) ++done;
  return done;
}

QVXString StringStreamBuf::str() {
  if (!started_) return text_;
  if (!handedOut_) {
    chars_[written_] = 0;
    text_.SetWrittenLength(written_);
    handedOut_ = true;
  }
  return text_;
}

}  // namespace QVX
