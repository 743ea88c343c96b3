#include "device/protocol/host_text_io.h"

#include <charconv>
#include <locale>
#include <string>

#include "support/code_page.h"
#include "support/host_code_page.h"

namespace OpenPlotr {

void WriteTextReply(CommandRecord &record, std::u16string_view text) {
  if (text.empty() || record.textBuffer == nullptr || record.textLength <= 0) return;
  QVX::WideToBuffer(text, record.textBuffer, record.textLength, QVX::HostCodePage());
}

std::int32_t CopyTextToHost(std::u16string_view text, char *buffer) {
  const auto size = static_cast<std::int32_t>(text.size() + 1);
  if (buffer && !QVX::WideToBuffer(text, buffer, size, QVX::HostCodePage())) {
    // A host that allocated the size it was told reads an empty string, not garbage.
    buffer[0] = '\0';
  }
  return size;
}

namespace {

char16_t UserDecimalPoint() {
  // The host code page comes from the locale snapshot, whose making installs the
  // user's number punctuation as the global locale; ask for it first so that the
  // first number is written like every later one.
  QVX::HostCodePage();
  try {
    return static_cast<char16_t>(std::use_facet<std::numpunct<wchar_t>>(std::locale()).decimal_point());
  } catch (...) {
    return u'.';
  }
}

}  // namespace

std::u16string FormatHostFloat(float value) {
  char digits[48];
  const auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 6);
  std::string text(digits, result.ptr);
  // The platform writes at least three exponent digits: 1e+06 becomes 1e+006.
  if (const auto e = text.find('e'); e != std::string::npos && e + 2 < text.size()) {
    const std::size_t exponentDigits = text.size() - (e + 2);
    if (exponentDigits < 3) text.insert(e + 2, 3 - exponentDigits, '0');
  }
  const char16_t point = UserDecimalPoint();
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) out.push_back(c == '.' ? point : static_cast<char16_t>(c));
  return out;
}

}  // namespace OpenPlotr
