#include "support/wide_insert.h"

#include <string>

#include "support/code_page.h"

namespace QVX {

// Pairs of surrogates are joined for a 32-bit wchar_t; a 16-bit one takes the units as they are.
std::wostream &operator<<(std::wostream &stream, Utf16 text) {
  std::wstring wide;
  wide.reserve(text.text.size());
  for (std::size_t i = 0; i < text.text.size(); ++i) {
    char32_t c = text.text[i];
    if constexpr (sizeof(wchar_t) >= 4) {
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.text.size() && text.text[i + 1] >= 0xDC00 &&
          text.text[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text.text[i + 1] - 0xDC00);
        ++i;
      }
    }
    wide.push_back(static_cast<wchar_t>(c));
  }
  return stream << wide;
}

std::wostream &operator<<(std::wostream &stream, NarrowText narrow) {
  if (!narrow.text) return stream;
  std::u16string wide = AnsiToWide(narrow.text);
  return stream << Utf16{wide};
}

}  // namespace QVX

std::wostream &operator<<(std::wostream &stream, const QVXString &text) { return stream << QVX::Utf16{text.View()}; }
