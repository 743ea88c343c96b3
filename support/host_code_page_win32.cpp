#include "support/host_code_page.h"

#include <windows.h>

#include <cwchar>

namespace QVX {

std::uint32_t HostCodePage() {
  static const std::uint32_t codePage = [] {
    wchar_t digits[8] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTCODEPAGE, digits, 8) <= 0) return 0u;
    return static_cast<std::uint32_t>(std::wcstoul(digits, nullptr, 10));
  }();
  return codePage;
}

}  // namespace QVX
