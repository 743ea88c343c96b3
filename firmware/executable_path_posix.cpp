#include <limits.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "firmware/executable_path.h"

namespace OpenPlotr {

namespace {

// File names here are bytes, not text in the process's character set (which stays
// ASCII in a host that never sets a locale). They are read as UTF-8, and each byte
// that is no part of a well-formed sequence is kept as U+DC80..U+DCFF, so every
// name comes back to the same bytes for the open.
constexpr char16_t kEscapedByte = 0xDC00;

void AppendUnit(std::u16string &out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

// Length of the well-formed UTF-8 sequence at text[at] and its code point; 0 when there is none.
std::size_t Utf8Sequence(std::string_view text, std::size_t at, char32_t &c) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    c = lead;
    return 1;
  }
  // Lead bytes C0, C1 and F5..FF never start a well-formed sequence.
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if (lead < 0xC2 || lead > 0xF4) return 0;
  constexpr char32_t kLowest[] = {0, 0, 0x80, 0x800, 0x10000};
  const char32_t lowest = kLowest[length];
  c = lead & (0x7F >> length);
  if (text.size() - at < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(at + i) & 0x3F);
  }
  if (c < lowest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return length;
}

std::u16string PathFromBytes(std::string_view bytes) {
  std::u16string out;
  for (std::size_t at = 0; at < bytes.size();) {
    char32_t c = 0;
    const std::size_t length = Utf8Sequence(bytes, at, c);
    if (length == 0) {
      out += static_cast<char16_t>(kEscapedByte + static_cast<unsigned char>(bytes[at]));
      ++at;
    } else {
      AppendUnit(out, c);
      at += length;
    }
  }
  return out;
}

// False for text that no byte name gives: a stray surrogate other than a kept byte, a NUL.
bool PathToBytes(std::u16string_view path, std::string &out) {
  out.clear();
  for (std::size_t i = 0; i < path.size(); ++i) {
    char32_t c = path[i];
    if (c == 0) return false;
    if (c >= 0xDC80 && c <= 0xDCFF) {
      out += static_cast<char>(c - kEscapedByte);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < path.size() && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (path[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      return false;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return !out.empty();
}

}  // namespace

bool HostExecutablePath(std::u16string &out) {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return false;
  out = PathFromBytes(std::string_view(buffer, static_cast<std::size_t>(n)));
  return !out.empty();
}

std::size_t MaxHostPath() { return PATH_MAX; }

bool IsPathSeparator(char16_t c) { return c == u'/'; }

char16_t PreferredSeparator() { return u'/'; }

FILE *OpenForReading(const std::u16string &path) {
  std::string bytes;
  return PathToBytes(path, bytes) ? std::fopen(bytes.c_str(), "rb") : nullptr;
}

}  // namespace OpenPlotr
