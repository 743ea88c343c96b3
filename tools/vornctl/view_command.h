// `vornctl view`: a live web page of every device's waveforms.
#pragma once

#include <string>
#include <vector>

#include "tools/vornctl/commands.h"

namespace vornctl {

int ViewCommand(Context &context, const ViewOptions &options);

}  // namespace vornctl
