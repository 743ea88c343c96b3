#pragma once

namespace VornSim {

// How the simulator learns that the host opened or closed the slave.
enum class PortWatch {
  // The simulator keeps a slave descriptor of its own and counts the host's
  // opens and closes with inotify. It can then undo a host's TIOCEXCL at the
  // close: on a pty the flag outlives the holder (unlike a real serial port,
  // whose tty is freed at its last close), so a non-root host could never
  // open the port again.
  Inotify,
  // The master reports POLLHUP while no slave is open. Cannot undo TIOCEXCL
  // for a non-root host, and a close followed at once by a reopen may go
  // unnoticed.
  Hangup,
};

}  // namespace VornSim
