#include "host/hresult_text.h"

#include <windows.h>

namespace QVX {

std::u16string SystemMessage(std::uint32_t code, std::size_t maxChars) {
  // One buffer per call: texts for different threads never mix.
  wchar_t buffer[512] = {};
  DWORD size = maxChars < 511 ? static_cast<DWORD>(maxChars + 1) : 511;
  DWORD written = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, size, nullptr);
  if (written == 0) return {};
  return std::u16string(reinterpret_cast<const char16_t *>(buffer), written < size ? written : size - 1);
}

}  // namespace QVX
