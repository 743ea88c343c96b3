// OFormatStringStream over any format and arguments: never writes past its
// buffers, and the result is no longer than the format plus the 1024
// characters of argument room.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/format_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  // Up to the first 0xFF byte: the format, with bytes widened and a few made
  // into the grammar's characters; after it, arguments separated by 0xFE.
  std::u16string format;
  std::size_t i = 0;
  for (; i < size && data[i] != 0xFF; ++i) {
    std::uint8_t b = data[i];
    format.push_back(b % 5 == 0 ? u'%' : b % 7 == 0 ? u'\\' : static_cast<char16_t>(b));
  }
  QVXString text{std::u16string_view(format)};
  QVX::OFormatStringStream stream(text);
  std::wstring argument;
  int arguments = 0;
  for (++i; i <= size && arguments < 64; ++i) {
    if (i == size || data[i] == 0xFE) {
      stream << argument;
      argument.clear();
      ++arguments;
      if (i == size) break;
    } else {
      argument.append(data[i] % 13 + 1, static_cast<wchar_t>(data[i]));
    }
  }
  QVXString result = stream.str();
  if (result.Length() > text.Length() + QVX::OFormatStream::kBufferChars) std::abort();
  return 0;
}
