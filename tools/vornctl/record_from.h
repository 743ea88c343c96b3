// `vornctl record --from URL`: a publisher's devices recorded into the same
// files as a local recording (the writers, the time and gap rule, the output
// rules), holding each device's stream against changes while it records.
#pragma once

#include "tools/vornctl/command_line.h"

namespace vornctl {

int RecordFromCommand(const RecordOptions &options);

// "vornctl record on HOST (pid N)": who holds a recording lease, as a
// publisher's refusals name it.
std::string LeaseHolderName(const std::string &program);

}  // namespace vornctl
