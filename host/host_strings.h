// Texts from the host executable's string table, with the host's product
// tokens rewritten into product names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "support/qvx_string.h"

namespace QVX {

using Substitution = std::pair<QVXString, QVXString>;

// Token and name, in the order they are applied; built once.
const std::vector<Substitution> &NameSubstitutions();

// Replaces every exact occurrence of each row's token, row by row; the search
// goes on after the inserted name, so a name holding its own token stays.
void ApplySubstitutions(QVXString &text, const std::vector<Substitution> &rows);

// String index (0-15) of a string-table block of size bytes: its characters,
// or nothing when the block has no such string, it is empty or runs past the block.
std::optional<std::u16string> StringFromBlock(const std::uint8_t *block, std::size_t size, unsigned index);

// String id of module (null: the host executable), with NameSubstitutions when substitute.
QVXString LoadHostString(void *module, std::uint32_t id, bool substitute);

// The platform's side: the string-table block blockId of module, in the host
// application's language (when the host's application object tells one) or
// else the system's default choice.
struct ResourceBlock {
  const std::uint8_t *data = nullptr;
  std::size_t size = 0;
};
std::optional<std::uint16_t> HostApplicationLanguage();
std::optional<ResourceBlock> FindStringBlock(void *module, std::uint16_t blockId,
                                             std::optional<std::uint16_t> language);

}  // namespace QVX
