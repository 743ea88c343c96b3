#pragma once
// The device's end of a pseudo-terminal pair, and the optional symlink that
// points at the host's end.

#include <string>
#include <string_view>

#include "port_watch.h"

namespace VornSim {

class PtyPort {
 public:
  enum class ReadStatus { Data, Nothing, HungUp, Failed };
  struct HostEvents {
    bool closedAll = false;  // the host's last descriptor was closed at some point
    bool opened = false;
  };

  PtyPort() = default;
  PtyPort(const PtyPort &) = delete;
  PtyPort &operator=(const PtyPort &) = delete;
  ~PtyPort() { Close(); }

  // Opens a new pair with the line in raw mode. Falls back to Hangup when
  // inotify is not available.
  bool Open(PortWatch wanted, std::string &error);
  void Close();
  int Fd() const { return master; }
  // inotify descriptor to poll, -1 in Hangup mode.
  int WatchFd() const { return watch; }
  PortWatch Watch() const { return watch >= 0 ? PortWatch::Inotify : PortWatch::Hangup; }
  const std::string &SlavePath() const { return slavePath; }

  // Appends what the host has written. HungUp (Hangup mode only): no slave
  // is open any more; the bytes read before that are still appended.
  ReadStatus Read(std::string &out);
  // Bytes written, 0 when the pty is full, -1 on error.
  long Write(std::string_view bytes);

  // Inotify mode: takes the pending open and close notifications.
  HostEvents ReadHostEvents();
  int HostOpens() const { return hostOpens; }
  // Hangup mode: true while no slave is open.
  bool HungUp() const;

  // After the host's close: drops what it left unread, so the next opener
  // gets no stale lines (a real port loses them when nobody has it open),
  // and, when nobody holds the port, clears its exclusive flag.
  void AfterHostClosed();

 private:
  int master = -1;
  int keeper = -1;
  int watch = -1;
  int hostOpens = 0;
  std::string slavePath;
};

class SlaveLink {
 public:
  SlaveLink() = default;
  SlaveLink(const SlaveLink &) = delete;
  SlaveLink &operator=(const SlaveLink &) = delete;
  ~SlaveLink() { Remove(); }

  // Makes path a symlink to target; an existing symlink is replaced, any
  // other existing file is left alone and reported.
  bool Create(const std::string &path, const std::string &target, std::string &error);
  // Removes the link if it still points where this object made it point.
  void Remove();

 private:
  std::string linkPath;
  std::string linkTarget;
};

}  // namespace VornSim
