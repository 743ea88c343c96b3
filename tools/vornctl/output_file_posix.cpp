#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/vornctl/output_file.h"

namespace vornctl {

namespace {

std::string Reason(int error) {
  if (error == ENAMETOOLONG) return "the path is too long for the system";
  return std::strerror(error);
}

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

OutputFile::~OutputFile() {
  std::string ignored;
  Close(ignored);
}

bool OutputFile::Create(const std::string &path, bool replace, std::string &error) {
  path_ = path;
  if (replace) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) ::unlink(path.c_str());
  }
  // O_EXCL: an existing name, a link included, is never opened.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int e = errno;
    error = "cannot create " + PathForMessage(path) + ": " + Reason(e);
    if (e == EEXIST)
      error = "cannot create " + PathForMessage(path) + ": it exists (another vornctl writing the same file?)";
    return false;
  }
  handle_ = fd;
  return true;
}

bool OutputFile::Append(std::string_view data, std::size_t &written, std::string &error) {
  written = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(Fd(handle_), data.data() + written, data.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A write that takes nothing without an error is a full disk by another name.
      error = n < 0 ? Reason(errno) : Reason(ENOSPC);
      return false;
    }
    written += static_cast<std::size_t>(n);
  }
  return true;
}

bool OutputFile::WriteAt(std::uint64_t offset, std::string_view data, std::string &error) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::pwrite(Fd(handle_), data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? Reason(errno) : Reason(ENOSPC);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool OutputFile::Truncate(std::uint64_t size, std::string &error) {
  if (::ftruncate(Fd(handle_), static_cast<off_t>(size)) != 0) {
    error = Reason(errno);
    return false;
  }
  return true;
}

bool OutputFile::Sync(std::string &error) {
  if (::fsync(Fd(handle_)) != 0 && errno != EINVAL) {
    error = Reason(errno);
    return false;
  }
  return true;
}

bool OutputFile::Close(std::string &error) {
  if (handle_ == kClosed) return true;
  const int rc = ::close(Fd(handle_));
  handle_ = kClosed;
  if (rc != 0 && errno != EINTR) {
    error = Reason(errno);
    return false;
  }
  return true;
}

bool RenameFile(const std::string &from, const std::string &to, bool replace, bool &exists, std::string &error) {
  exists = false;
  if (replace) {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    error = Reason(errno);
    return false;
  }
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  int e = errno;
  if (e == EINVAL || e == ENOSYS || e == ENOTSUP) {
    // A file system without an exclusive rename: a hard link fails just as
    // surely on an existing name.
    if (::link(from.c_str(), to.c_str()) == 0) {
      ::unlink(from.c_str());
      return true;
    }
    e = errno;
    if (e == EPERM || e == ENOTSUP || e == EOPNOTSUPP) {
      // Nor links (FAT): look, then rename; the window is the caller's own.
      struct stat st {};
      if (::lstat(to.c_str(), &st) == 0) {
        e = EEXIST;
      } else if (::rename(from.c_str(), to.c_str()) == 0) {
        return true;
      } else {
        e = errno;
      }
    }
  }
  exists = e == EEXIST;
  error = exists ? "it exists" : Reason(e);
  return false;
}

void RemoveFile(const std::string &path) { ::unlink(path.c_str()); }

PathInfo InspectPath(const std::string &path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    const int e = errno;
    if (e == ENOENT) return {PathKind::Missing, {}};
    if (e == ENOTDIR) return {PathKind::Unknown, "a part of the path before the name is not a folder"};
    if (e == EACCES) return {PathKind::Unknown, "no permission to look into a folder on the way"};
    if (e == ELOOP) return {PathKind::Unknown, "too many symbolic links on the way"};
    return {PathKind::Unknown, Reason(e)};
  }
  if (S_ISREG(st.st_mode)) return {PathKind::Regular, {}};
  if (S_ISLNK(st.st_mode)) return {PathKind::Link, {}};
  if (S_ISDIR(st.st_mode)) return {PathKind::Folder, {}};
  if (S_ISFIFO(st.st_mode)) return {PathKind::Fifo, {}};
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return {PathKind::Device, {}};
  if (S_ISSOCK(st.st_mode)) return {PathKind::Socket, {}};
  return {PathKind::Other, {}};
}

bool FolderAcceptsFiles(const std::string &folder, std::string &why) {
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0) return true;
  const int e = errno;
  why = e == EACCES ? "you may not make files there" : e == EROFS ? "it is on a read-only file system" : Reason(e);
  return false;
}

}  // namespace vornctl
