#include "pty_posix.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace VornSim {

bool PtyPort::Open(PortWatch wanted, std::string &error) {
  Close();
  const int fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = std::string("posix_openpt: ") + std::strerror(errno);
    return false;
  }
  const char *name = (grantpt(fd) == 0 && unlockpt(fd) == 0) ? ptsname(fd) : nullptr;
  termios tio{};
  if (!name || tcgetattr(fd, &tio) != 0) {
    error = std::string("pty setup: ") + std::strerror(errno);
    ::close(fd);
    return false;
  }
  // Raw before the host can open it: an echoing or translating line would
  // bounce commands back at the host and turn CR LF into other bytes.
  cfmakeraw(&tio);
  cfsetispeed(&tio, B115200);
  cfsetospeed(&tio, B115200);
  if (tcsetattr(fd, TCSANOW, &tio) != 0 || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
    error = std::string("pty raw mode: ") + std::strerror(errno);
    ::close(fd);
    return false;
  }
  master = fd;
  slavePath = name;
  hostOpens = 0;
  if (wanted == PortWatch::Inotify) {
    // The watch starts after the keeper's own open, so only the host's count.
    keeper = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    watch = keeper >= 0 ? inotify_init1(IN_NONBLOCK | IN_CLOEXEC) : -1;
    if (watch >= 0 && inotify_add_watch(watch, slavePath.c_str(), IN_OPEN | IN_CLOSE) < 0) {
      ::close(watch);
      watch = -1;
    }
    if (watch < 0 && keeper >= 0) {
      ::close(keeper);
      keeper = -1;
    }
  }
  return true;
}

void PtyPort::Close() {
  for (int *fd : {&watch, &keeper, &master}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  hostOpens = 0;
  slavePath.clear();
}

PtyPort::ReadStatus PtyPort::Read(std::string &out) {
  char buffer[4096];
  bool any = false;
  while (true) {
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n > 0) {
      out.append(buffer, static_cast<size_t>(n));
      any = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return any ? ReadStatus::Data : ReadStatus::Nothing;
    // Linux reports a closed slave as EIO once its bytes have been read.
    if (n == 0 || errno == EIO) return ReadStatus::HungUp;
    return ReadStatus::Failed;
  }
}

long PtyPort::Write(std::string_view bytes) {
  while (true) {
    const ssize_t n = ::write(master, bytes.data(), bytes.size());
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -1;
  }
}

PtyPort::HostEvents PtyPort::ReadHostEvents() {
  HostEvents events;
  alignas(inotify_event) char buffer[4096];
  while (true) {
    const ssize_t n = ::read(watch, buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto *e = reinterpret_cast<const inotify_event *>(buffer + at);
      if (e->mask & IN_OPEN) {
        ++hostOpens;
        events.opened = true;
      }
      if ((e->mask & IN_CLOSE) && hostOpens > 0 && --hostOpens == 0) events.closedAll = true;
      // Lost notifications: the count can no longer be trusted; assume the
      // host is there, the safer way to be wrong.
      if (e->mask & IN_Q_OVERFLOW) hostOpens = std::max(hostOpens, 1);
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
  }
  return events;
}

bool PtyPort::HungUp() const {
  pollfd p{master, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLHUP);
}

void PtyPort::AfterHostClosed() {
  if (keeper >= 0) {
    tcflush(keeper, TCIFLUSH);
    if (hostOpens == 0) ioctl(keeper, TIOCNXCL);
    return;
  }
  // Only an open slave can flush its input queue. If the host has reopened
  // it exclusively in the meantime this fails, and nothing was written since.
  const int fd = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  tcflush(fd, TCIFLUSH);
  ::close(fd);
}

bool SlaveLink::Create(const std::string &path, const std::string &target, std::string &error) {
  Remove();
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = path + " exists and is not a symlink; not replacing it";
      return false;
    }
    ::unlink(path.c_str());
  }
  if (::symlink(target.c_str(), path.c_str()) != 0) {
    error = "symlink " + path + ": " + std::strerror(errno);
    return false;
  }
  linkPath = path;
  linkTarget = target;
  return true;
}

void SlaveLink::Remove() {
  if (linkPath.empty()) return;
  char current[4096];
  const ssize_t n = ::readlink(linkPath.c_str(), current, sizeof current - 1);
  // Someone else may have re-pointed it (another simulator); leave theirs.
  if (n >= 0 && std::string(current, static_cast<size_t>(n)) == linkTarget) ::unlink(linkPath.c_str());
  linkPath.clear();
  linkTarget.clear();
}

}  // namespace VornSim
