// System BSTR and VARIANT handling behind one seam: the Windows half calls
// OLE Automation, the POSIX half keeps the same length-prefixed layout itself.
#pragma once

#include <cstdint>

#include "support/com_types.h"

namespace QVX {

// A new BSTR of length characters copied from text; null when out of memory.
Bstr BstrAlloc(const char16_t *text, std::uint32_t length);
void BstrFree(Bstr text);
// Characters in the BSTR; 0 for null.
std::uint32_t BstrLength(const char16_t *text);

// Frees what the variant holds and leaves it empty.
void VariantRelease(Variant *value);

}  // namespace QVX
