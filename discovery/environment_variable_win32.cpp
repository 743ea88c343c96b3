#include <windows.h>

#include <vector>

#include "discovery/environment_variable.h"

namespace OpenPlotr {

bool ReadEnvironmentVariable(const char16_t *name, std::u16string &value) {
  const auto *wideName = reinterpret_cast<const wchar_t *>(name);
  value.clear();
  SetLastError(ERROR_SUCCESS);
  DWORD size = GetEnvironmentVariableW(wideName, nullptr, 0);
  if (size == 0) return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  // The variable can change between the two calls; a second size means try again.
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::vector<wchar_t> buffer(size);
    const DWORD got = GetEnvironmentVariableW(wideName, buffer.data(), size);
    if (got == 0) return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    if (got < size) {
      value.assign(reinterpret_cast<const char16_t *>(buffer.data()), got);
      return true;
    }
    size = got;
  }
  return false;
}

}  // namespace OpenPlotr
