// Text from the system taken no further than the size it reported, and no
// further than its first null: such texts need not carry a terminator.
#pragma once

#include <cstddef>
#include <string>

namespace OpenPlotr {

inline std::u16string BoundedText(const char16_t *text, std::size_t maxChars) {
  std::size_t length = 0;
  while (length < maxChars && text[length] != u'\0') ++length;
  return std::u16string(text, length);
}

}  // namespace OpenPlotr
