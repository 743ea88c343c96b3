// Says what vornctl is waiting for while a driver call blocks (Initialise of
// a silent device takes 21 s): on a terminal a line that counts the seconds
// and goes away when the wait ends, elsewhere one plain line at once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace vornctl {

class WaitNotice {
 public:
  WaitNotice(std::string text, bool live);
  ~WaitNotice();
  WaitNotice(const WaitNotice &) = delete;
  WaitNotice &operator=(const WaitNotice &) = delete;

  // Ends the wait; on a terminal the line is cleared for what comes next.
  void Finish();

 private:
  void Draw(int seconds);

  std::string text_;
  bool live_;
  std::size_t drawnWidth_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool finished_ = false;
  std::thread ticker_;
};

// "waiting for VSC1234567 on /dev/ttyUSB0 to answer (up to 21 s)"
std::string InitialiseWaitText(std::int32_t index, const std::string &serial, const std::string &port);

}  // namespace vornctl
