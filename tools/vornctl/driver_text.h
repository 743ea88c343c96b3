// The driver hands its texts (units, names, messages) over in the host's code
// page; vornctl writes UTF-8 everywhere (CSV, JSON, the page), so it converts them
// once, where they come in.
#pragma once

#include <string>

namespace vornctl {

// text from the driver, in this user's code page as the driver chose it, as UTF-8.
std::string DriverTextToUtf8(const std::string &text);

}  // namespace vornctl
