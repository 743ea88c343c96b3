#include "support/bstr.h"

#include <windows.h>
#include <oleauto.h>

static_assert(sizeof(wchar_t) == sizeof(char16_t));
static_assert(sizeof(QVX::Variant) == sizeof(VARIANT));

namespace QVX {

Bstr BstrAlloc(const char16_t *text, std::uint32_t length) {
  return reinterpret_cast<Bstr>(SysAllocStringLen(reinterpret_cast<const wchar_t *>(text), length));
}

void BstrFree(Bstr text) { SysFreeString(reinterpret_cast<BSTR>(text)); }

std::uint32_t BstrLength(const char16_t *text) {
  return SysStringLen(reinterpret_cast<BSTR>(const_cast<char16_t *>(text)));
}

void VariantRelease(Variant *value) { VariantClear(reinterpret_cast<VARIANT *>(value)); }

}  // namespace QVX
