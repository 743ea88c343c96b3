// Windows code-page numbers and the character-set names the C library knows them by.
#pragma once

#include <cstdint>
#include <string_view>

namespace QVX {

// The iconv name of a code page; null for a page we do not map.
const char *CharsetName(std::uint32_t codePage);

// The code page of a character-set name (as nl_langinfo(CODESET) gives it); 0 when unknown.
std::uint32_t CodePageFromCharset(std::string_view charset);

}  // namespace QVX
