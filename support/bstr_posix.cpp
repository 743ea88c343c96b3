#include "support/bstr.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace QVX {

// Same layout as the system's: a 32-bit byte count, the characters, a 0.
Bstr BstrAlloc(const char16_t *text, std::uint32_t length) {
  if (length > (std::numeric_limits<std::uint32_t>::max() - 8) / 2) return nullptr;
  std::uint32_t bytes = length * 2;
  auto *block = static_cast<unsigned char *>(std::malloc(sizeof(std::uint32_t) + bytes + sizeof(char16_t)));
  if (!block) return nullptr;
  std::memcpy(block, &bytes, sizeof bytes);
  auto *chars = reinterpret_cast<char16_t *>(block + sizeof(std::uint32_t));
  if (text) std::memcpy(chars, text, bytes);
  else std::memset(chars, 0, bytes);
  chars[length] = 0;
  return chars;
}

void BstrFree(Bstr text) {
  if (text) std::free(reinterpret_cast<unsigned char *>(text) - sizeof(std::uint32_t));
}

std::uint32_t BstrLength(const char16_t *text) {
  if (!text) return 0;
  std::uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<const unsigned char *>(text) - sizeof(std::uint32_t), sizeof bytes);
  return bytes / 2;
}

void VariantRelease(Variant *value) {
  if (!value) return;
  if (value->vt == kVarTypeBstr) BstrFree(value->bstrVal);
  value->vt = kVarTypeEmpty;
  value->llVal = 0;
}

}  // namespace QVX
