// What the process's locale snapshot reports through on this platform: the
// host's string resources, the system's messages and a visible warning.
#pragma once

#include "support/locale_info.h"

namespace QVX {

LocaleEnvironment &ProcessLocaleEnvironment();

}  // namespace QVX
