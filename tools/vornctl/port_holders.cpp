#include "tools/vornctl/port_holders.h"

namespace vornctl {

std::string BusyText(const std::string &path, const std::vector<PortHolder> &holders) {
  if (holders.empty()) {
    return path + " is busy: another program holds it (the system does not say which to this user); close that " +
           "program or pick another device";
  }
  std::string who;
  for (std::size_t i = 0; i < holders.size(); ++i) {
    if (i > 0) who += i + 1 == holders.size() ? " and " : ", ";
    who += "process " + std::to_string(holders[i].pid);
    if (!holders[i].name.empty()) who += " (" + holders[i].name + ")";
  }
  return path + " is busy: " + who + (holders.size() > 1 ? " hold" : " holds") +
         " it. Close that program or pick another device";
}

}  // namespace vornctl
