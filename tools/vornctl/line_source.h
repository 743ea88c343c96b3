// The device's lines as the host takes them from the driver: one at a time
// with ReadLine, or in blocks with ReadBuffSize and ReadBuffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/hostlib/vorn_library.h"

namespace vornctl {

// A line of this many bytes or more is damage: a sample line of the widest
// device is a few hundred bytes. ReadLine's buffer holds one byte less.
constexpr std::size_t kLineLimit = 4095;

// The driver's receive ring holds 65535 bytes; this close to full it is
// dropping lines, and the lines after those waiting came after a loss.
constexpr std::int64_t kRingNearlyFull = 65535 - 4096;

// Splits ReadBuffer blocks into lines at line feeds.
class BlockLineSplitter {
 public:
  void Feed(const char *data, std::size_t size);
  // Next complete line; overlong is set (and line empty) once for a line of
  // kLineLimit bytes or more, whose bytes are discarded up to its line feed.
  bool Next(std::string &line, bool &overlong);
  // A complete line is waiting here.
  bool HasLine() const;
  std::size_t Held() const { return pending_.size(); }

 private:
  std::string pending_;
  std::size_t scanned_ = 0;
  bool discarding_ = false;
};

class LineSource {
 public:
  enum class Result { Line, Overlong, Timeout };

  LineSource(const vorn_host::VornLibrary &lib, std::int32_t index, bool blockMode);
  // Waits at most about timeoutMs for the next line.
  Result Next(std::string &line, std::uint32_t timeoutMs);
  // Nothing is waiting, neither here nor in the driver's receive ring: the
  // reader has caught up with the device.
  bool Drained();
  // Bytes waiting in the driver's receive ring and held here.
  std::int64_t Waiting();
  // Bytes of the ring handed out as lines so far (line feeds included).
  std::int64_t Taken() const { return taken_; }

 private:
  Result NextLine(std::string &line, std::uint32_t timeoutMs);
  Result NextFromBlocks(std::string &line, std::uint32_t timeoutMs);

  const vorn_host::VornLibrary &lib_;
  std::int32_t index_;
  bool blockMode_;
  bool continuing_ = false;  // the last ReadLine piece filled the buffer
  std::int64_t taken_ = 0;
  std::vector<char> buffer_;
  BlockLineSplitter splitter_;
};

}  // namespace vornctl
