#include "support/code_page.h"

#include <cstring>
#include <limits>

#include "support/code_page_system.h"

namespace QVX {

namespace {

bool SplitsPair(std::u16string_view text, std::size_t at) {
  return at > 0 && at < text.size() && text[at - 1] >= 0xD800 && text[at - 1] <= 0xDBFF && text[at] >= 0xDC00 &&
         text[at] <= 0xDFFF;
}

// The converted form of the longest prefix of text (never half a surrogate pair)
// that takes at most limit chars. Cutting the wide text, not the bytes, keeps
// multi-byte sequences of UTF-8 and the double-byte pages whole.
std::string FittingPrefix(std::u16string_view text, std::size_t limit, std::uint32_t codePage) {
  std::string best;
  std::size_t fits = 0, tooLong = text.size();
  while (tooLong - fits > 1) {
    std::size_t mid = fits + (tooLong - fits) / 2;
    if (SplitsPair(text, mid)) {
      if (mid - 1 > fits) --mid;
      else if (mid + 1 < tooLong) ++mid;
      else break;
    }
    std::string part;
    if (!SystemEncode(text.substr(0, mid), codePage, part)) part.clear();
    if (part.size() <= limit) {
      fits = mid;
      best.swap(part);
    } else {
      tooLong = mid;
    }
  }
  return best;
}

}  // namespace

bool WideToBuffer(std::u16string_view text, char *buffer, std::int32_t size, std::uint32_t codePage) {
  std::string narrow;
  if (!SystemEncode(text, codePage, narrow)) return false;
  if (!buffer) return true;
  if (size <= 0) return false;
  std::size_t room = static_cast<std::size_t>(size) - 1;
  if (narrow.size() > room) narrow = FittingPrefix(text, room, codePage);
  std::memcpy(buffer, narrow.data(), narrow.size());
  buffer[narrow.size()] = '\0';
  return true;
}

std::int32_t NarrowSize(std::u16string_view text, std::uint32_t codePage) {
  std::string narrow;
  if (!SystemEncode(text, codePage, narrow)) return 0;
  if (narrow.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return 0;
  return static_cast<std::int32_t>(narrow.size() + 1);
}

bool NarrowToWide(std::int32_t count, const char *text, std::u16string &out, std::uint32_t codePage) {
  if (!text || count < 0) return false;
  std::size_t n = count == 0 ? std::strlen(text) : static_cast<std::size_t>(count);
  // The terminator is converted too, so an empty text in a known page succeeds.
  std::string narrow(text, n);
  narrow.push_back('\0');
  std::u16string wide;
  if (!SystemDecode(narrow, codePage, wide)) return false;
  out.assign(wide.c_str());
  return true;
}

std::string WideToAnsi(std::u16string_view text) {
  std::string narrow;
  if (!SystemEncode(text, kCodePageThreadAnsi, narrow)) return {};
  return narrow;
}

std::u16string AnsiToWide(std::string_view text) {
  std::u16string wide;
  if (!SystemDecode(text, kCodePageThreadAnsi, wide)) return {};
  return wide;
}

}  // namespace QVX
