// A recording's file on disk. It is written under a temporary name beside
// its own ("run.partial.csv") and renamed when it is complete, so a crash
// never leaves a half-written file under the name the user gave, and never
// a half-replaced one; a recording cut short keeps what it had under the
// temporary name. Only whole pieces (rows, data records) are written, each
// with one call, so the file ends at a boundary the readers accept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vornctl {

inline constexpr char kPartialMark[] = ".partial";

// The temporary name of path's file while it is being recorded: the mark
// goes before the extension.
std::string PartialPath(const std::string &path);

// A long path cut down for a message: its start and its end.
std::string PathForMessage(const std::string &path);

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // closes; the file stays
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;

  // Makes path as a new file: never opens an existing one, never follows a
  // link. replace removes whatever non-folder is there first.
  bool Create(const std::string &path, bool replace, std::string &error);
  // Writes all of data at the end; written says how much reached the file
  // when it could not (the disk filled, a size limit).
  bool Append(std::string_view data, std::size_t &written, std::string &error);
  bool WriteAt(std::uint64_t offset, std::string_view data, std::string &error);
  bool Truncate(std::uint64_t size, std::string &error);
  // To the disk, before the rename makes it the recording.
  bool Sync(std::string &error);
  bool Close(std::string &error);
  bool IsOpen() const { return handle_ != kClosed; }
  const std::string &Path() const { return path_; }

 private:
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t handle_ = kClosed;
  std::string path_;
};

// Gives the file `from` the name `to`. Without replace an existing `to` is
// never replaced: the call fails with exists set.
bool RenameFile(const std::string &from, const std::string &to, bool replace, bool &exists, std::string &error);
void RemoveFile(const std::string &path);

// What is at a path, seen without opening it (and without following a link
// at its end).
enum class PathKind { Missing, Regular, Link, Folder, Fifo, Device, Socket, Other, Unknown };
struct PathInfo {
  PathKind kind = PathKind::Unknown;
  std::string problem;  // for Unknown: why the system could not say ("the path is too long", ...)
};
PathInfo InspectPath(const std::string &path);

// Whether this user may make files in folder (an existing folder); why not.
bool FolderAcceptsFiles(const std::string &folder, std::string &why);

}  // namespace vornctl
