// QVX::OStringStream: a wide output stream that writes straight into a QVXString.
#pragma once

#include <cstdint>
#include <ostream>
#include <streambuf>

#include "support/qvx_string.h"
#include "support/wide_insert.h"

namespace QVX {

// A stream buffer over memory it can report and grow.
class MemStreamBufBase : public std::basic_streambuf<wchar_t> {
 public:
  struct Buffer {
    char16_t *chars;
    std::uint32_t capacity;
    std::uint32_t length;
  };
  virtual Buffer GetBuffer() = 0;
  // Null chars when the buffer cannot grow to capacity.
  virtual Buffer GrowBuffer(std::uint32_t capacity) = 0;
};

// Writes UTF-16 into one shared string. Wide characters beyond 16 bits (POSIX
// wchar_t) become surrogate pairs. A string handed out by str never changes.
class StringStreamBuf : public MemStreamBufBase {
 public:
  StringStreamBuf() = default;
  explicit StringStreamBuf(QVXString start) : text_(std::move(start)) {}

  Buffer GetBuffer() override;
  Buffer GrowBuffer(std::uint32_t capacity) override;
  QVXString str();
  bool handedOut() const { return handedOut_; }

  // Writes UTF-16 units as they are.
  bool PutUnits(const char16_t *units, std::size_t count);

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const wchar_t *text, std::streamsize count) override;

 private:
  bool Begin();
  bool PutUnit(char16_t unit);
  bool PutWide(wchar_t c);

  QVXString text_;
  char16_t *chars_ = nullptr;
  std::uint32_t written_ = 0;
  bool started_ = false;
  bool handedOut_ = false;
};

class OStringStream : public std::basic_ostream<wchar_t> {
 public:
  OStringStream() : std::basic_ostream<wchar_t>(nullptr) { rdbuf(&buffer_); }
  QVXString str() { return buffer_.str(); }

 private:
  StringStreamBuf buffer_;
};

}  // namespace QVX
