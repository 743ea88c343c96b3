#include "tools/vornctl/wait_notice.h"

#include <chrono>
#include <cstdio>

namespace vornctl {

namespace {

// S for up to 5 s, then 16 one-second waits for the version line.
constexpr int kInitialiseLongestSeconds = 21;

}  // namespace

std::string InitialiseWaitText(std::int32_t index, const std::string &serial, const std::string &port) {
  const std::string who = serial.empty() ? "device " + std::to_string(index) : serial;
  const std::string where = port.empty() ? std::string() : " on " + port;
  return "waiting for " + who + where + " to answer (up to " + std::to_string(kInitialiseLongestSeconds) + " s)";
}

WaitNotice::WaitNotice(std::string text, bool live) : text_(std::move(text)), live_(live) {
  if (!live_) {
    std::fprintf(stderr, "vornctl: %s...\n", text_.c_str());
    return;
  }
  Draw(0);
  ticker_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(mutex_);
    for (int seconds = 1; !wake_.wait_for(lock, std::chrono::seconds(1), [this] { return finished_; }); ++seconds) {
      Draw(seconds);
    }
  });
}

WaitNotice::~WaitNotice() { Finish(); }

void WaitNotice::Draw(int seconds) {
  std::string line = "vornctl: " + text_ + "... " + std::to_string(seconds) + " s";
  const std::size_t width = line.size();
  if (width < drawnWidth_) line.append(drawnWidth_ - width, ' ');
  drawnWidth_ = width;
  std::fprintf(stderr, "\r%s", line.c_str());
  std::fflush(stderr);
}

void WaitNotice::Finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    finished_ = true;
  }
  wake_.notify_all();
  if (ticker_.joinable()) ticker_.join();
  if (live_) {
    std::fprintf(stderr, "\r%s\r", std::string(drawnWidth_, ' ').c_str());
    std::fflush(stderr);
  }
}

}  // namespace vornctl
