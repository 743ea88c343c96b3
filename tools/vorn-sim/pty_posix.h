#pragma once
// The device's end of a pseudo-terminal pair, and the optional symlink that
// points at the host's end.

#include <string>
#include <string_view>

namespace VornSim {

class PtyPort {
 public:
  enum class ReadStatus { Data, Nothing, HungUp, Failed };

  PtyPort() = default;
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;
  ~PtyPort() { Close(); }

  // Opens a new pair with the line in raw mode; the slave stays closed.
  bool Open(std::string& error);
  void Close();
  int Fd() const { return master; }
  const std::string& SlavePath() const { return slavePath; }

  // Appends what the host has written. HungUp: no slave is open any more (the
  // bytes read before that are still appended).
  ReadStatus Read(std::string& out);
  // Bytes written, 0 when the pty is full, -1 when the host is gone or on error.
  long Write(std::string_view bytes);
  // True while no slave is open (after the host has opened it at least once).
  bool HostGone() const;
  // Drops what the host left unread, so the next opener does not get stale
  // lines (a real port loses them when nobody has it open).
  void DiscardUnread();

 private:
  int master = -1;
  std::string slavePath;
};

class SlaveLink {
 public:
  SlaveLink() = default;
  SlaveLink(const SlaveLink&) = delete;
  SlaveLink& operator=(const SlaveLink&) = delete;
  ~SlaveLink() { Remove(); }

  // Makes path a symlink to target; an existing symlink is replaced, any
  // other existing file is left alone and reported.
  bool Create(const std::string& path, const std::string& target, std::string& error);
  // Removes the link if it still points where this object made it point.
  void Remove();

 private:
  std::string linkPath;
  std::string linkTarget;
};

} // namespace VornSim
