#include "sim_log.h"

#include <cerrno>
#include <cstring>

namespace VornSim {

std::string EscapeBytes(std::string_view bytes, size_t limit) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  const std::string_view shown = bytes.substr(0, limit);
  for (unsigned char c : shown) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c == '\\') out += "\\\\";
    else if (c >= 0x20 && c < 0x7F) out += static_cast<char>(c);
    else {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  if (bytes.size() > limit) out += "... (" + std::to_string(bytes.size()) + " bytes)";
  return out;
}

FileLog::~FileLog() {
  if (file) std::fclose(file);
}

bool FileLog::Open(const std::string &path, std::string &error) {
  if (path.empty()) return true;
  file = std::fopen(path.c_str(), "wb");
  if (!file) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void FileLog::Write(std::string_view text) {
  if (!file) return;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fputc('\n', file);
}

void FileLog::Flush() {
  if (file) std::fflush(file);
}

void TraceFile::Note(SimMicros now, std::string_view text) {
  if (!log.Enabled()) return;
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%10lld.%03lld ", static_cast<long long>(now / 1000),
                static_cast<long long>(now % 1000));
  log.Write(std::string(stamp) + std::string(text));
  // A trace is read after crashes and kills too.
  log.Flush();
}

}  // namespace VornSim
