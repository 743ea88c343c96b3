// Windows names its ports COMn and says little about them before an open;
// the driver's message is all there is.
#include "tools/vornctl/port_advice.h"

namespace vornctl {

std::string PortProblemBeforeOpen(const std::string &) { return {}; }

std::string PortProblemAfterFailure(const std::string &) { return {}; }

}  // namespace vornctl
