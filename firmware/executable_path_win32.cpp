#include <windows.h>

#include "firmware/executable_path.h"

namespace OpenPlotr {

bool HostExecutablePath(std::u16string &out) {
  wchar_t buffer[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  // A full buffer means the path was cut.
  if (n == 0 || n >= MAX_PATH) return false;
  out.assign(reinterpret_cast<const char16_t *>(buffer), n);
  return true;
}

std::size_t MaxHostPath() { return MAX_PATH; }

bool IsPathSeparator(char16_t c) { return c == u'\\' || c == u'/' || c == u':'; }

}  // namespace OpenPlotr
namespace OpenPlotr {
char16_t PreferredSeparator() { return u'\\'; }
}  // namespace OpenPlotr

#include <cstdio>

namespace OpenPlotr {

FILE *OpenForReading(const std::u16string &path) {
  return _wfopen(reinterpret_cast<const wchar_t *>(path.c_str()), L"rb");
}

}  // namespace OpenPlotr
