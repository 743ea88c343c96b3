#include "tools/vornctl/line_source.h"

#include <algorithm>

namespace vornctl {

namespace {
constexpr std::size_t kBlockBytes = 64 * 1024;
}  // namespace

void BlockLineSplitter::Feed(const char *data, std::size_t size) { pending_.append(data, size); }

bool BlockLineSplitter::Next(std::string &line, bool &overlong) {
  overlong = false;
  const std::size_t feed = pending_.find('\n', scanned_);
  if (feed == std::string::npos) {
    scanned_ = pending_.size();
    if (!discarding_ && pending_.size() >= kLineLimit) {
      discarding_ = true;
      pending_.clear();
      scanned_ = 0;
      line.clear();
      overlong = true;
      return true;
    }
    if (discarding_) {
      pending_.clear();
      scanned_ = 0;
    }
    return false;
  }
  const bool wasDiscarding = discarding_;
  discarding_ = false;
  if (wasDiscarding) {
    pending_.erase(0, feed + 1);
    scanned_ = 0;
    return Next(line, overlong);
  }
  if (feed >= kLineLimit) {
    pending_.erase(0, feed + 1);
    scanned_ = 0;
    line.clear();
    overlong = true;
    return true;
  }
  line.assign(pending_, 0, feed);
  pending_.erase(0, feed + 1);
  scanned_ = 0;
  return true;
}

bool BlockLineSplitter::HasLine() const { return pending_.find('\n') != std::string::npos; }

LineSource::LineSource(const vorn_host::VornLibrary &lib, std::int32_t index, bool blockMode)
    : lib_(lib), index_(index), blockMode_(blockMode), buffer_(std::max(kLineLimit + 1, kBlockBytes)) {}

LineSource::Result LineSource::Next(std::string &line, std::uint32_t timeoutMs) {
  const Result result = blockMode_ ? NextFromBlocks(line, timeoutMs) : NextLine(line, timeoutMs);
  if (result == Result::Line) taken_ += static_cast<std::int64_t>(line.size()) + 1;
  if (result == Result::Overlong) taken_ += static_cast<std::int64_t>(kLineLimit);
  return result;
}

std::int64_t LineSource::Waiting() {
  const std::int32_t ring = lib_.ReadBuffSize(index_);
  return std::max<std::int64_t>(0, ring) + static_cast<std::int64_t>(blockMode_ ? splitter_.Held() : 0);
}

bool LineSource::Drained() {
  if (continuing_ || (blockMode_ && splitter_.HasLine())) return false;
  return lib_.ReadBuffSize(index_) <= 0;
}

LineSource::Result LineSource::NextLine(std::string &line, std::uint32_t timeoutMs) {
  // ReadLine hands a line longer than its buffer over in pieces; the piece
  // that fills the buffer exactly leaves the line feed for the next call.
  const auto maxLen = static_cast<std::int32_t>(kLineLimit + 1);
  for (;;) {
    if (lib_.ReadLine(index_, buffer_.data(), maxLen, timeoutMs) != 1) return Result::Timeout;
    const std::size_t length =
        static_cast<std::size_t>(std::find(buffer_.data(), buffer_.data() + kLineLimit, '\0') - buffer_.data());
    const bool full = length == kLineLimit;
    if (continuing_) {
      continuing_ = full;
      continue;
    }
    if (full) {
      continuing_ = true;
      line.clear();
      return Result::Overlong;
    }
    line.assign(buffer_.data(), length);
    return Result::Line;
  }
}

LineSource::Result LineSource::NextFromBlocks(std::string &line, std::uint32_t timeoutMs) {
  bool overlong = false;
  for (;;) {
    if (splitter_.Next(line, overlong)) return overlong ? Result::Overlong : Result::Line;
    // ReadBuffer does not say how many bytes it delivered, so ask for no
    // more than are waiting; with none waiting, one byte is the wait.
    std::int32_t waiting = lib_.ReadBuffSize(index_);
    if (waiting <= 0) {
      if (lib_.ReadBuffer(index_, buffer_.data(), 1, timeoutMs) != 1) return Result::Timeout;
      splitter_.Feed(buffer_.data(), 1);
      waiting = lib_.ReadBuffSize(index_);
    }
    if (waiting > 0) {
      const auto count = std::min<std::size_t>(static_cast<std::size_t>(waiting), buffer_.size());
      if (lib_.ReadBuffer(index_, buffer_.data(), static_cast<std::int32_t>(count), 0) != 1) return Result::Timeout;
      splitter_.Feed(buffer_.data(), count);
    }
  }
}

}  // namespace vornctl
