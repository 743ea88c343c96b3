// What a vornctl user can do about a device that is not found or does not
// come up. The driver's general message speaks to the host application's
// users; this speaks to whoever set VORN_PORTS or owns the port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vornctl {

// VORN_PORTS entries the driver skips, one note each: no '=', or a serial
// number that is not a Vorn one.
std::vector<std::string> PortListNotes();
std::vector<std::string> PortListNotes(const std::string &value);

// Where device `index` is: VORN_PORTS's entries that discovery accepts, in
// order, or without VORN_PORTS the system's USB serial ports read as
// discovery reads them. Empty fields when vornctl cannot tell.
struct DevicePort {
  std::string serial;  // the serial number discovery matched
  std::string path;
};
DevicePort LocateDevice(std::int32_t index);
std::string PortOfDevice(std::int32_t index);

// Where vornctl looked and what to try, for a search that found nothing:
// VORN_PORTS's skipped entries, or the USB serial ports and why each was
// passed by, and how to try vornctl without hardware.
std::vector<std::string> NothingFoundNotes(const std::string &simulator);

// What decides whether this user may open a port, for advice that helps:
// joining a group helps only when the group may read and write it.
struct PortPermissions {
  std::string path;
  unsigned mode = 0;  // permission bits
  std::string owner;
  std::string group;
  std::string user;  // who runs vornctl
  bool userIsOwner = false;
  bool groupIsRoot = false;
  bool inGroupNow = false;     // this process has the group
  bool inGroupListed = false;  // the group list names the user (a later login would have it)
  bool pseudoTerminal = false;
};
std::string PermissionAdvice(const PortPermissions &p);

// Why path cannot serve as a port before anything is sent: it does not
// exist, this user may not open it (with the advice that fits its owner,
// group and mode), or another program holds it (and which, where the system
// tells). Empty when nothing is known against it.
std::string PortProblemBeforeOpen(const std::string &path);
// After a failed initialisation: busy, missing or forbidden, else empty.
std::string PortProblemAfterFailure(const std::string &path);

}  // namespace vornctl
