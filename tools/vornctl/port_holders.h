// Which other programs hold a serial port, where the system tells: a port the
// driver cannot have would otherwise cost half a minute of Initialise and end
// in advice to switch the device on.
#pragma once

#include <string>
#include <vector>

namespace vornctl {

struct PortHolder {
  int pid = 0;
  std::string name;  // the program's name, empty when the system does not say
};

// Whether another process holds path for itself (a lock on it, or exclusive
// use that a second open would run into), and which processes hold it.
// Processes the system hides from this user are not listed, and this
// process's own holds (the driver's sessions) never count.
bool PortTakenByAnother(const std::string &path, std::vector<PortHolder> &holders);

// Whether this process has path open: the driver's session here holds it.
bool PortHeldByThisProcess(const std::string &path);

// Processes other than this one that have path open.
std::vector<PortHolder> PortOpeners(const std::string &path);

// "/dev/ttyUSB0 is busy: process 4711 (minicom) holds it. ..."
std::string BusyText(const std::string &path, const std::vector<PortHolder> &holders);

}  // namespace vornctl
