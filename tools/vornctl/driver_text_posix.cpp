#include "tools/vornctl/driver_text.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cctype>

namespace vornctl {

namespace {

// The character set of the user's locale, as the driver reads it (the environment,
// not this process's own setlocale).
std::string UserCharset() {
  std::string name;
  if (locale_t user = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0))) {
    name = nl_langinfo_l(CODESET, user);
    freelocale(user);
  }
  std::string folded;
  for (char c : name)
    if (std::isalnum(static_cast<unsigned char>(c)))
      folded += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return folded == "UTF8" ? "UTF-8" : folded == "ANSIX341968" || folded == "ASCII" ? "ISO-8859-1" : name;
}

std::string Latin1ToUtf8(const std::string &text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

std::string DriverTextToUtf8(const std::string &text) {
  if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) return text;
  // The driver hands a 7-bit locale's hosts Latin-1.
  static const std::string charset = UserCharset();
  if (charset == "UTF-8" || charset.empty()) return text;
  if (charset == "ISO-8859-1") return Latin1ToUtf8(text);
  iconv_t converter = iconv_open("UTF-8", charset.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return Latin1ToUtf8(text);
  std::string out(text.size() * 4 + 4, '\0');
  char *in = const_cast<char *>(text.data());
  char *to = out.data();
  std::size_t inLeft = text.size(), outLeft = out.size();
  while (inLeft > 0 && iconv(converter, &in, &inLeft, &to, &outLeft) == static_cast<std::size_t>(-1)) {
    if (outLeft < 3) break;
    // A byte the page does not map becomes U+FFFD.
    *to++ = '\xEF';
    *to++ = '\xBF';
    *to++ = '\xBD';
    outLeft -= 3;
    ++in;
    --inLeft;
  }
  iconv_close(converter);
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace vornctl
