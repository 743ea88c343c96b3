#include "host/prerelease_report.h"

namespace QVX {

// Not built yet: the host-environment lookup arrives with the host subsystem.
void ReportPrereleaseBuild() {}

}  // namespace QVX
