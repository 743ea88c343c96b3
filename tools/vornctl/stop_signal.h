// Ctrl-C and SIGTERM. While a recording runs, the first one only sets a flag
// and the record loop then stops the stream, closes the driver and finishes
// the files; a second one ends the program at once. Before and after that
// nothing is being recorded, so the first one ends the program at once: a
// driver call such as Initialise can block for half a minute, and a user who
// presses Ctrl-C then must not be ignored.
#pragma once

#include <string>

namespace vornctl {

void InstallStopHandler();
// Between these the first signal only asks the recording to stop.
void BeginRecordingPhase();
void EndRecordingPhase();
bool StopRequested();
// While on, further signals after the first do not end the program: the
// files being finished are worth the wait (vornctl view, whose devices are
// stopped in parallel, each within the driver's own time-outs).
void SetLaterStopsWaitForFiles(bool on);
// "Ctrl-C" or "SIGTERM", for the messages; the exit status for it (130, 143).
std::string StopSignalName();
int StopExitStatus();

}  // namespace vornctl
