// Holders from /proc: the locks table names whoever locked the port (the
// driver locks every port it opens, and /proc/locks is readable by all), and
// each process's descriptors name who has it open.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "tools/vornctl/port_holders.h"

namespace vornctl {

namespace {

std::string ProgramName(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

void AddHolder(std::vector<PortHolder> &holders, int pid) {
  if (pid <= 0 || pid == ::getpid()) return;
  if (std::any_of(holders.begin(), holders.end(), [pid](const PortHolder &h) { return h.pid == pid; })) return;
  holders.push_back({pid, ProgramName(pid)});
}

bool IsNumber(const char *text) {
  if (*text == '\0') return false;
  for (; *text; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

// Entries look like "3: FLOCK  ADVISORY  WRITE 4711 00:19:4 0 EOF"; a
// waiter's begins "3: -> FLOCK" and holds nothing yet.
std::vector<int> Lockers(const struct stat &node) {
  std::vector<int> pids;
  std::ifstream in("/proc/locks");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, kind, mode, access, where;
    int pid = 0;
    if (!(fields >> id >> kind) || kind == "->") continue;
    if (!(fields >> mode >> access >> pid >> where)) continue;
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(where.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3) continue;
    if (major == ::major(node.st_dev) && minor == ::minor(node.st_dev) && inode == node.st_ino) pids.push_back(pid);
  }
  return pids;
}

bool CharacterDevice(const std::string &path, struct stat &node) {
  return ::stat(path.c_str(), &node) == 0 && S_ISCHR(node.st_mode);
}

bool OpenedBy(const std::string &fdDir, const struct stat &node) {
  DIR *fds = ::opendir(fdDir.c_str());
  if (!fds) return false;  // another user's process: the system does not say
  bool found = false;
  while (const dirent *fd = ::readdir(fds)) {
    struct stat target {};
    if (!IsNumber(fd->d_name) || ::stat((fdDir + "/" + fd->d_name).c_str(), &target) != 0) continue;
    if (S_ISCHR(target.st_mode) && target.st_rdev == node.st_rdev) {
      found = true;
      break;
    }
  }
  ::closedir(fds);
  return found;
}

std::vector<PortHolder> OpenersOf(const struct stat &node) {
  std::vector<PortHolder> holders;
  DIR *proc = ::opendir("/proc");
  if (!proc) return holders;
  while (const dirent *process = ::readdir(proc)) {
    if (!IsNumber(process->d_name)) continue;
    if (OpenedBy(std::string("/proc/") + process->d_name + "/fd", node)) AddHolder(holders, std::atoi(process->d_name));
  }
  ::closedir(proc);
  return holders;
}

}  // namespace

std::vector<PortHolder> PortOpeners(const std::string &path) {
  struct stat node {};
  if (!CharacterDevice(path, node)) return {};
  return OpenersOf(node);
}

bool PortHeldByThisProcess(const std::string &path) {
  struct stat node {};
  return CharacterDevice(path, node) && OpenedBy("/proc/self/fd", node);
}

bool PortTakenByAnother(const std::string &path, std::vector<PortHolder> &holders) {
  holders.clear();
  struct stat node {};
  if (!CharacterDevice(path, node)) return false;
  // The driver's own session in this process: its exclusive mode is ours.
  if (OpenedBy("/proc/self/fd", node)) return false;
  for (int pid : Lockers(node)) AddHolder(holders, pid);
  if (!holders.empty()) return true;
  // Open is not the same as taken: a simulator keeps its own side of a pty
  // open, and a plain reader shares the port. Only a port another program
  // keeps for itself would fail the driver's exclusive, locked open.
  holders = OpenersOf(node);
  if (holders.empty()) return false;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EBUSY;
  // Someone else has it open, so this short open and close changes none of its lines.
  int exclusive = 0;
  bool taken = ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
  if (!taken && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) taken = true;
  ::close(fd);
  return taken;
}

}  // namespace vornctl
