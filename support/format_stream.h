// QVX::OFormatStream / OFormatStringStream: fill numbered placeholders ("%1"
// to "%20", "%%" for a percent sign) of a format text with the arguments
// inserted in turn.
#pragma once

#include <cstdint>
#include <ios>
#include <ostream>

#include "support/qvx_string.h"
#include "support/string_stream.h"
#include "support/strstream.h"
#include "support/wide_insert.h"

namespace QVX {

class OFormatStream : public std::basic_ostream<wchar_t> {
 public:
  static constexpr int kMaxPlaceholders = 20;
  static constexpr std::size_t kBufferChars = 1024;

  // Every insertion is one argument.
  template <typename T>
  OFormatStream &operator<<(const T &value) {
    if (BeginArgument()) {
      static_cast<std::basic_ostream<wchar_t> &>(*this) << value;
      EndArgument();
    }
    return *this;
  }
  // Manipulators change the formatting of the next argument; they are no argument.
  OFormatStream &operator<<(std::ios_base &(*manipulator)(std::ios_base &)) {
    manipulator(*this);
    return *this;
  }

  int awaited() const { return highest_; }

 protected:
  // result receives the composed text.
  OFormatStream(const QVXString &format, StringStreamBuf &result);

 private:
  struct Placeholder {
    std::uint32_t literalStart;
    std::uint32_t literalEnd;
    int number;
  };
  struct Argument {
    std::streamsize start;
    std::streamsize length;
  };

  void Parse();
  bool BeginArgument();
  void EndArgument();
  void Compose();
  void WriteLiteral(std::uint32_t from, std::uint32_t to);

  QVXString format_;
  StringStreamBuf &result_;
  wchar_t buffer_[kBufferChars] = {};
  basic_strstreambuf<wchar_t> arguments_;
  Placeholder placeholders_[kMaxPlaceholders] = {};
  int placeholderCount_ = 0;
  std::uint32_t tailStart_ = 0;
  int highest_ = 0;
  Argument recorded_[kMaxPlaceholders] = {};
  int inserted_ = 0;
  std::streamsize argumentStart_ = 0;
};

namespace detail {
struct FormatResultHolder {
  StringStreamBuf resultBuffer;
};
}  // namespace detail

class OFormatStringStream : private detail::FormatResultHolder, public OFormatStream {
 public:
  explicit OFormatStringStream(const QVXString &format) : OFormatStream(format, resultBuffer) {}
  // The composed text; empty until every awaited argument is in.
  QVXString str() { return resultBuffer.str(); }
};

}  // namespace QVX
