#include "host/host_strings.h"

#include <windows.h>

namespace QVX {

// The framework's application dictionary is not available to this library, so
// no host application object is found and the system's language choice is used.
std::optional<std::uint16_t> HostApplicationLanguage() { return std::nullopt; }

std::optional<ResourceBlock> FindStringBlock(void *module, std::uint16_t blockId,
                                             std::optional<std::uint16_t> language) {
  auto instance = static_cast<HMODULE>(module ? module : GetModuleHandleW(nullptr));
  HRSRC found = language ? FindResourceExW(instance, RT_STRING, MAKEINTRESOURCEW(blockId), *language)
                         : FindResourceW(instance, MAKEINTRESOURCEW(blockId), RT_STRING);
  if (!found) return std::nullopt;
  HGLOBAL loaded = LoadResource(instance, found);
  if (!loaded) return std::nullopt;
  const void *data = LockResource(loaded);
  DWORD size = SizeofResource(instance, found);
  if (!data || size == 0) return std::nullopt;
  return ResourceBlock{static_cast<const std::uint8_t *>(data), size};
}

}  // namespace QVX
