// Ctrl-C (and SIGTERM) end a recording cleanly: the handler only sets a flag,
// and the record loop then stops the stream and closes the driver. A second
// Ctrl-C ends the program at once.
#pragma once

namespace vornctl {

void InstallStopHandler();
bool StopRequested();

}  // namespace vornctl
