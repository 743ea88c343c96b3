// Windows refuses a second open of a COM port without saying by whom; the
// driver's message is all there is.
#include "tools/vornctl/port_holders.h"

namespace vornctl {

bool PortTakenByAnother(const std::string &, std::vector<PortHolder> &holders) {
  holders.clear();
  return false;
}

bool PortHeldByThisProcess(const std::string &) { return false; }

std::vector<PortHolder> PortOpeners(const std::string &) { return {}; }

}  // namespace vornctl
