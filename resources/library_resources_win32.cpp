#include <windows.h>

#include "resources/library_resources.h"

namespace OpenPlotr {

std::string LoadControlListScript() {
  const auto module = static_cast<HMODULE>(ModuleInstance());
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(105), reinterpret_cast<LPCWSTR>(RT_RCDATA));
  if (!found) return {};
  const DWORD size = SizeofResource(module, found);
  HGLOBAL loaded = LoadResource(module, found);
  if (!loaded || size == 0) return {};
  const void *bytes = LockResource(loaded);
  if (!bytes) return {};
  std::string script(static_cast<const char *>(bytes), size);
  FreeResource(loaded);
  return script;
}

}  // namespace OpenPlotr
