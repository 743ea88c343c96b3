// QVX::basic_strstreambuf / basic_ostrstream: an output stream over a caller's
// fixed character array, or over a growing array of its own.
#pragma once

#include <cstddef>
#include <cwchar>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace QVX {

template <typename CharT>
class basic_strstreambuf : public std::basic_streambuf<CharT> {
 public:
  using int_type = typename std::basic_streambuf<CharT>::int_type;
  using traits_type = typename std::basic_streambuf<CharT>::traits_type;

  // length > 0: that many characters; 0: up to the array's terminator. A
  // negative length is taken as 0: writing without a bound is never allowed.
  basic_strstreambuf(CharT *array, std::streamsize length) {
    if (!array) return;
    std::size_t room = length > 0 ? static_cast<std::size_t>(length) : traits_type::length(array);
    this->setp(array, array + room);
  }
  basic_strstreambuf() : dynamic_(true) {}

  CharT *str() { return this->pbase(); }
  std::streamsize pcount() const { return this->pptr() - this->pbase(); }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    if (!dynamic_) return traits_type::eof();
    std::ptrdiff_t used = this->pptr() - this->pbase();
    std::size_t size = store_.empty() ? kMinimumAllocation : store_.size() * 2;
    store_.resize(size);
    this->setp(store_.data(), store_.data() + size);
    this->pbump(static_cast<int>(used));
    *this->pptr() = traits_type::to_char_type(c);
    this->pbump(1);
    return c;
  }

 private:
  static constexpr std::size_t kMinimumAllocation = 32;
  bool dynamic_ = false;
  std::vector<CharT> store_;
};

template <typename CharT>
class basic_ostrstream : public std::basic_ostream<CharT> {
 public:
  basic_ostrstream(CharT *array, std::streamsize length) : std::basic_ostream<CharT>(nullptr), buffer_(array, length) {
    this->rdbuf(&buffer_);
  }
  basic_ostrstream() : std::basic_ostream<CharT>(nullptr) { this->rdbuf(&buffer_); }

  CharT *str() { return buffer_.str(); }
  std::streamsize pcount() const { return buffer_.pcount(); }

 private:
  basic_strstreambuf<CharT> buffer_;
};

}  // namespace QVX
