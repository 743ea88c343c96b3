// Tells the host's environment object when this library is a pre-release build.
#pragma once

#include <optional>
#include <string>

#include "host/module_version.h"
#include "support/com_types.h"

namespace QVX {

// Runs once from the attach notification. Whatever the host framework's
// start-up throws is contained here; the attach goes on regardless.
void ReportPrereleaseBuild() noexcept;

// The label ("description version", at most 255 characters) when version
// marks a pre-release build; nothing otherwise.
std::optional<std::u16string> PrereleaseLabel(const ModuleVersion &version);

// Asks environment whether it wants reports (method 51) and hands it the label (method 57).
void ReportPrerelease(IUnknownBase *environment, const ModuleVersion &version);

}  // namespace QVX
