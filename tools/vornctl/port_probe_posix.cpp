// Looks at a port path without sending anything.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/vornctl/port_advice.h"

namespace vornctl {

namespace {

std::string Forbidden(const std::string &path) {
  return "you may not open " + path +
         ": add yourself to the dialout group (sudo usermod -aG dialout $USER), then log in again";
}

}  // namespace

std::string PortProblemBeforeOpen(const std::string &path) {
  if (path.empty()) return {};
  if (::access(path.c_str(), F_OK) != 0) return path + " does not exist: is the device plugged in?";
  if (::access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES) return Forbidden(path);
  return {};
}

std::string PortProblemAfterFailure(const std::string &path) {
  if (path.empty()) return {};
  std::string before = PortProblemBeforeOpen(path);
  if (!before.empty()) return before;
  // Opened only now that the driver has let go of it.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd >= 0) {
    ::close(fd);
    return path + " opens, but the device does not answer: is it switched on?";
  }
  if (errno == EBUSY) return path + " is busy: another program holds it open";
  if (errno == EACCES || errno == EPERM) return Forbidden(path);
  return "cannot open " + path + ": " + std::strerror(errno);
}

}  // namespace vornctl
