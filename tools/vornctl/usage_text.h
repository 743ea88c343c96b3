// vornctl --help.
#pragma once

namespace vornctl {

extern const char kUsageText[];

}  // namespace vornctl
