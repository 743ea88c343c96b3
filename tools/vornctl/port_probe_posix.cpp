// Looks at a port path without sending anything.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "tools/vornctl/port_advice.h"
#include "tools/vornctl/port_holders.h"

namespace vornctl {

namespace {

std::string UserName(uid_t uid) {
  const passwd *entry = ::getpwuid(uid);
  return entry ? entry->pw_name : std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  const group *entry = ::getgrgid(gid);
  return entry ? entry->gr_name : std::to_string(gid);
}

bool ProcessHasGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  const int got = ::getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// What a new login of this user would have.
bool GroupListsUser(gid_t gid, const std::string &user) {
  const passwd *entry = ::getpwnam(user.c_str());
  if (entry && entry->pw_gid == gid) return true;
  const group *g = ::getgrgid(gid);
  if (!g) return false;
  for (char **member = g->gr_mem; member && *member; ++member) {
    if (user == *member) return true;
  }
  return false;
}

std::string Forbidden(const std::string &path) {
  struct stat node {};
  if (::stat(path.c_str(), &node) != 0) return "you may not open " + path + ": " + std::strerror(errno);
  PortPermissions p;
  p.path = path;
  p.mode = node.st_mode & 07777u;
  p.owner = UserName(node.st_uid);
  p.group = GroupName(node.st_gid);
  p.user = UserName(::geteuid());
  p.userIsOwner = node.st_uid == ::geteuid();
  p.groupIsRoot = node.st_gid == 0;
  p.inGroupNow = ProcessHasGroup(node.st_gid);
  p.inGroupListed = GroupListsUser(node.st_gid, p.user);
  // VORN_PORTS may name a link to the pty, as vorn-sim --link makes.
  std::error_code ec;
  p.pseudoTerminal = std::filesystem::canonical(path, ec).string().rfind("/dev/pts/", 0) == 0;
  return PermissionAdvice(p);
}

}  // namespace

std::string PortProblemBeforeOpen(const std::string &path) {
  if (path.empty()) return {};
  if (::access(path.c_str(), F_OK) != 0) return path + " does not exist: is the device plugged in?";
  if (::access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES) return Forbidden(path);
  std::vector<PortHolder> holders;
  if (PortTakenByAnother(path, holders)) return BusyText(path, holders);
  return {};
}

std::string PortProblemAfterFailure(const std::string &path) {
  if (path.empty()) return {};
  std::string before = PortProblemBeforeOpen(path);
  if (!before.empty()) return before;
  const std::string silent = path + " opens, but the device does not answer: is it switched on?";
  // The driver keeps a port open after the device failed to answer.
  if (PortHeldByThisProcess(path)) return silent;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return silent;
  }
  if (errno == EBUSY) return BusyText(path, PortOpeners(path));
  if (errno == EACCES || errno == EPERM) return Forbidden(path);
  return "cannot open " + path + ": " + std::strerror(errno);
}

}  // namespace vornctl
