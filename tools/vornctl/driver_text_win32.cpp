#include "tools/vornctl/driver_text.h"

#include <windows.h>

#include <cwchar>

namespace vornctl {

std::string DriverTextToUtf8(const std::string &text) {
  if (text.empty()) return text;
  // The driver writes the user's default OEM code page.
  wchar_t digits[8] = {};
  const UINT page = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTCODEPAGE, digits, 8) > 0
                        ? static_cast<UINT>(std::wcstoul(digits, nullptr, 10))
                        : CP_OEMCP;
  const int size = static_cast<int>(text.size());
  const int units = MultiByteToWideChar(page, 0, text.data(), size, nullptr, 0);
  if (units <= 0) return text;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(page, 0, text.data(), size, wide.data(), units);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return text;
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, out.data(), bytes, nullptr, nullptr);
  return out;
}

}  // namespace vornctl
