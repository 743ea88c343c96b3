// VORN_PORTS: "SERIAL=PATH;SERIAL=PATH..." points discovery at exactly these
// ports, in this order, instead of the system's. SERIAL is what the system
// would give as instance identifier (a bare serial number, or an identifier
// such as FTDIBUS\VID_0403+PID_6001+VSC00042A\0000 to cut it from); PATH is
// the name under which the session opens the port.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/port_source.h"

namespace OpenPlotr {

inline constexpr char16_t kPortListVariable[] = u"VORN_PORTS";

struct PortListEntry {
  std::u16string instanceId;
  std::u16string path;
};

// Entries without '=' are skipped; empty text gives no entry.
std::vector<PortListEntry> ParsePortList(std::u16string_view text);

// The source for a VORN_PORTS value: no system library is consulted, so the
// converter lookup is always usable and finds nothing.
std::unique_ptr<PortSource> MakePortListSource(std::u16string_view text);

}  // namespace OpenPlotr
