// This library's own version resource, as the pre-release report reads it.
#pragma once

#include <cstdint>
#include <string>

namespace QVX {

struct ModuleVersion {
  // Low 16 bits of the fixed file version's least significant half.
  std::uint32_t fourthField = 0;
  std::u16string fileVersion = u"N/A";
  std::u16string fileDescription = u"N/A";
};

// "N/A" stands for strings that cannot be read.
ModuleVersion ReadOwnVersion();

}  // namespace QVX
