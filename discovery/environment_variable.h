// The process environment, as UTF-16 text.
#pragma once

#include <string>

namespace OpenPlotr {

// False when name is not set; a variable set to nothing gives true and empty text.
bool ReadEnvironmentVariable(const char16_t *name, std::u16string &value);

}  // namespace OpenPlotr
