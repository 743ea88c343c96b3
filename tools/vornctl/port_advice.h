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

// The port VORN_PORTS gives device `index` (its entries that discovery
// accepts, in order); empty without VORN_PORTS.
std::string PortOfDevice(std::int32_t index);

// Why path cannot serve as a port before anything is sent: it does not
// exist, or this user may not open it. Empty when nothing is known against it.
std::string PortProblemBeforeOpen(const std::string &path);
// After a failed initialisation: busy, missing or forbidden, else empty.
std::string PortProblemAfterFailure(const std::string &path);

}  // namespace vornctl
