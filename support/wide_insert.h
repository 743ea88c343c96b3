// Writing the driver's UTF-16 texts and narrow texts to wide streams.
#pragma once

#include <ostream>
#include <string_view>

#include "support/qvx_string.h"

namespace QVX {

// Narrow text in the thread's ANSI code page; null or unconvertible text writes nothing.
struct NarrowText {
  const char *text;
};

struct Utf16 {
  std::u16string_view text;
};

std::wostream &operator<<(std::wostream &stream, NarrowText narrow);
std::wostream &operator<<(std::wostream &stream, Utf16 text);

}  // namespace QVX

std::wostream &operator<<(std::wostream &stream, const QVXString &text);
