#pragma once
// The simulator's own records: the trace (what it received and did, time
// stamped) and the sent log (every data line exactly as written, so a test
// can hold each host line against it).

#include <cstdio>
#include <string>
#include <string_view>

#include "sim_time.h"

namespace VornSim {

class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void Note(SimMicros now, std::string_view text) = 0;
};

// Printable ASCII as is; CR, LF, TAB and other bytes escaped (\r, \n, \t,
// \xNN). Longer input is cut at limit bytes and its length given.
std::string EscapeBytes(std::string_view bytes, size_t limit = 160);

class FileLog {
 public:
  FileLog() = default;
  FileLog(const FileLog &) = delete;
  FileLog &operator=(const FileLog &) = delete;
  ~FileLog();

  // An empty path leaves the log disabled.
  bool Open(const std::string &path, std::string &error);
  bool Enabled() const { return file != nullptr; }
  void Write(std::string_view text);  // text plus LF
  void Flush();

 private:
  std::FILE *file = nullptr;
};

class TraceFile : public TraceSink {
 public:
  explicit TraceFile(FileLog &log) : log(log) {}
  void Note(SimMicros now, std::string_view text) override;

 private:
  FileLog &log;
};

}  // namespace VornSim
