#include "host/host_strings.h"

#include <cstring>

namespace QVX {

const std::vector<Substitution> &NameSubstitutions() {
  // The longer token goes first: "PLOTR" is part of "PLOTRFORWINDOWS".
  static const std::vector<Substitution> rows = {
      {QVXString(u"PLOTRFORWINDOWS"), QVXString(u"Wavedesk")},
      {QVXString(u"PLOTR"), QVXString(u"Wavedesk")},
      {QVXString(u"DYNACORE"), QVXString(u"Dynacore")},
      {QVXString(u"QVX"), QVXString(u"Quintavix")},
      {QVXString(u"OEM"), QVXString(u"Quintavix")},
      {QVXString(u"QUINTAVIX"), QVXString(u"Quintavix")},
  };
  return rows;
}

void ApplySubstitutions(QVXString &text, const std::vector<Substitution> &rows) {
  for (const auto &[token, name] : rows) {
    if (token.IsEmpty()) continue;
    std::size_t at = 0;
    for (;;) {
      at = text.View().find(token.View(), at);
      if (at == std::u16string_view::npos) break;
      if (!text.Replace(token.Length(), static_cast<std::uint32_t>(at), name)) return;
      at += name.Length();
    }
  }
}

std::optional<std::u16string> StringFromBlock(const std::uint8_t *block, std::size_t size, unsigned index) {
  if (!block || index > 15) return std::nullopt;
  std::size_t offset = 0;
  for (unsigned i = 0;; ++i) {
    if (offset > size || size - offset < 2) return std::nullopt;
    std::uint16_t length;
    std::memcpy(&length, block + offset, 2);
    offset += 2;
    std::size_t bytes = std::size_t{length} * 2;
    if (bytes > size - offset) return std::nullopt;
    if (i == index) {
      if (length == 0) return std::nullopt;
      std::u16string text(length, u'\0');
      std::memcpy(text.data(), block + offset, bytes);
      return text;
    }
    offset += bytes;
  }
}

QVXString LoadHostString(void *module, std::uint32_t id, bool substitute) {
  if (id == 0) return QVXString();
  auto blockId = static_cast<std::uint16_t>((id >> 4) + 1);
  unsigned index = id & 15u;
  std::optional<std::u16string> text;
  if (std::optional<std::uint16_t> language = HostApplicationLanguage()) {
    if (auto block = FindStringBlock(module, blockId, language))
      text = StringFromBlock(block->data, block->size, index);
  }
  if (!text) {
    if (auto block = FindStringBlock(module, blockId, std::nullopt))
      text = StringFromBlock(block->data, block->size, index);
  }
  if (!text) return QVXString();
  QVXString result{std::u16string_view(*text)};
  if (substitute) ApplySubstitutions(result, NameSubstitutions());
  return result;
}

}  // namespace QVX
