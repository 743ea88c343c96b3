#include <windows.h>

#include <algorithm>

#include "tools/vornctl/output_file.h"

namespace vornctl {

namespace {

std::string Reason(DWORD code) {
  switch (code) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return "the disk is full";
    case ERROR_ACCESS_DENIED: return "access denied";
    case ERROR_FILENAME_EXCED_RANGE: return "the path is too long for the system";
    case ERROR_PATH_NOT_FOUND: return "the folder does not exist";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return "it exists";
    default: return "Windows error " + std::to_string(code);
  }
}

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

bool WriteAll(HANDLE h, std::string_view data, std::size_t &written, std::string &error) {
  written = 0;
  while (written < data.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - written, 1u << 30));
    DWORD n = 0;
    if (!::WriteFile(h, data.data() + written, chunk, &n, nullptr) || n == 0) {
      error = Reason(n == 0 && ::GetLastError() == ERROR_SUCCESS ? ERROR_DISK_FULL : ::GetLastError());
      return false;
    }
    written += n;
  }
  return true;
}

}  // namespace

OutputFile::~OutputFile() {
  std::string ignored;
  Close(ignored);
}

bool OutputFile::Create(const std::string &path, bool replace, std::string &error) {
  path_ = path;
  if (replace) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) ::DeleteFileA(path.c_str());
  }
  // CREATE_NEW: an existing name is never opened.
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = "cannot create " + PathForMessage(path) + ": " + Reason(::GetLastError());
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return true;
}

bool OutputFile::Append(std::string_view data, std::size_t &written, std::string &error) {
  LARGE_INTEGER end{};
  ::SetFilePointerEx(Handle(handle_), end, nullptr, FILE_END);
  return WriteAll(Handle(handle_), data, written, error);
}

bool OutputFile::WriteAt(std::uint64_t offset, std::string_view data, std::string &error) {
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(Handle(handle_), at, nullptr, FILE_BEGIN)) {
    error = Reason(::GetLastError());
    return false;
  }
  std::size_t written = 0;
  return WriteAll(Handle(handle_), data, written, error);
}

bool OutputFile::Truncate(std::uint64_t size, std::string &error) {
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(size);
  if (!::SetFilePointerEx(Handle(handle_), at, nullptr, FILE_BEGIN) || !::SetEndOfFile(Handle(handle_))) {
    error = Reason(::GetLastError());
    return false;
  }
  return true;
}

bool OutputFile::Sync(std::string &error) {
  if (!::FlushFileBuffers(Handle(handle_))) {
    error = Reason(::GetLastError());
    return false;
  }
  return true;
}

bool OutputFile::Close(std::string &error) {
  if (handle_ == kClosed) return true;
  const BOOL ok = ::CloseHandle(Handle(handle_));
  handle_ = kClosed;
  if (!ok) {
    error = Reason(::GetLastError());
    return false;
  }
  return true;
}

bool RenameFile(const std::string &from, const std::string &to, bool replace, bool &exists, std::string &error) {
  exists = false;
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (::MoveFileExA(from.c_str(), to.c_str(), flags)) return true;
  const DWORD code = ::GetLastError();
  exists = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS;
  error = Reason(code);
  return false;
}

void RemoveFile(const std::string &path) { ::DeleteFileA(path.c_str()); }

PathInfo InspectPath(const std::string &path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    const DWORD code = ::GetLastError();
    // A missing folder on the way is the folder check's to explain.
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return {PathKind::Missing, {}};
    return {PathKind::Unknown, Reason(code)};
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return {PathKind::Link, {}};
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return {PathKind::Folder, {}};
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) return {PathKind::Device, {}};
  return {PathKind::Regular, {}};
}

// Windows says whether a folder takes files only when one is made; the
// recording's file is made before the device streams.
bool FolderAcceptsFiles(const std::string &, std::string &) { return true; }

}  // namespace vornctl
