// Tells the host's environment object when this library is a pre-release build.
#pragma once

namespace QVX {

// Runs once from the attach notification; may throw from the framework start-up.
void ReportPrereleaseBuild();

}  // namespace QVX
