#include <cstdlib>
#include <cstring>

#include "discovery/environment_variable.h"
#include "support/code_page.h"

namespace OpenPlotr {

bool ReadEnvironmentVariable(const char16_t *name, std::u16string &value) {
  std::string narrowName;
  for (const char16_t *c = name; *c; ++c) narrowName.push_back(static_cast<char>(*c));
  value.clear();
  const char *text = std::getenv(narrowName.c_str());
  if (!text) return false;
  const auto length = static_cast<std::int32_t>(std::strlen(text));
  if (length > 0 && !QVX::NarrowToWide(length, text, value, QVX::kCodePageUtf8)) value.clear();
  return true;
}

}  // namespace OpenPlotr
