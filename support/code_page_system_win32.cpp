#include "support/code_page_system.h"

#include <windows.h>

#include <limits>

namespace QVX {

bool SystemEncode(std::u16string_view text, std::uint32_t codePage, std::string &out) {
  if (text.empty() || text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return false;
  auto *wide = reinterpret_cast<const wchar_t *>(text.data());
  int units = static_cast<int>(text.size());
  int size = WideCharToMultiByte(codePage, 0, wide, units, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  std::string narrow(static_cast<std::size_t>(size), '\0');
  int written = WideCharToMultiByte(codePage, 0, wide, units, narrow.data(), size, nullptr, nullptr);
  if (written <= 0) return false;
  narrow.resize(static_cast<std::size_t>(written));
  out.swap(narrow);
  return true;
}

bool SystemDecode(std::string_view text, std::uint32_t codePage, std::u16string &out) {
  if (text.empty() || text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return false;
  int bytes = static_cast<int>(text.size());
  int size = MultiByteToWideChar(codePage, 0, text.data(), bytes, nullptr, 0);
  if (size <= 0) return false;
  std::u16string wide(static_cast<std::size_t>(size), u'\0');
  int written = MultiByteToWideChar(codePage, 0, text.data(), bytes, reinterpret_cast<wchar_t *>(wide.data()), size);
  if (written <= 0) return false;
  wide.resize(static_cast<std::size_t>(written));
  out.swap(wide);
  return true;
}

// The system converters keep no state of ours.
void PrepareSystemConverters() {}
void ReleaseSystemConverters() {}

}  // namespace QVX
