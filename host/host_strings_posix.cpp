#include "host/host_strings.h"

namespace QVX {

// No host executable with a string table here: every host string is empty.
std::optional<std::uint16_t> HostApplicationLanguage() { return std::nullopt; }

std::optional<ResourceBlock> FindStringBlock(void *, std::uint16_t, std::optional<std::uint16_t>) {
  return std::nullopt;
}

}  // namespace QVX
