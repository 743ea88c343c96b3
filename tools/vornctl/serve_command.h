// `vornctl serve`: every device's stream published over ZeroMQ, its controls
// taken from a distance; `vornctl keygen`: CURVE key pairs for it.
#pragma once

#include "tools/vornctl/commands.h"

namespace vornctl {

int ServeCommand(Context &context, const ServeOptions &options);
int KeygenCommand(const KeygenOptions &options);

}  // namespace vornctl
