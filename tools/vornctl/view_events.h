// The page's event stream: a ticker takes every device's new lines about 30
// times a second and hands one message to each connected page. Each page has
// a bounded queue of its own, so a slow or vanished page costs at most that
// queue and never holds up a device's reader.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/vornctl/view_device.h"

namespace vornctl {

class EventHub {
 public:
  struct Subscriber {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::shared_ptr<const std::string>> queue;
    std::size_t bytes = 0;
    std::int64_t lost = 0;  // messages dropped because the page fell behind
  };

  static constexpr std::size_t kQueueBytes = 4 * 1024 * 1024;
  static constexpr auto kBlockInterval = std::chrono::milliseconds(33);
  static constexpr auto kStateInterval = std::chrono::milliseconds(250);

  explicit EventHub(std::vector<ViewDevice *> devices);
  ~EventHub();
  EventHub(const EventHub &) = delete;
  EventHub &operator=(const EventHub &) = delete;

  void Start();
  // Ends the ticker and wakes every waiting page.
  void Stop();
  bool Stopped() const { return stopped_.load(); }

  std::shared_ptr<Subscriber> Subscribe();
  void Unsubscribe(const std::shared_ptr<Subscriber> &subscriber);
  std::size_t SubscriberCount() const;
  // The next message for this page, waiting at most timeout; false when none came.
  bool Next(Subscriber &subscriber, std::string &message, std::chrono::milliseconds timeout);

  // The "state" message now (also sent to a page when it connects).
  std::string StateMessage() const;

 private:
  void Tick();
  void Publish(std::shared_ptr<const std::string> message);

  std::vector<ViewDevice *> devices_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::shared_ptr<Subscriber>> subscribers_;
  std::atomic<bool> stopped_{false};
  std::thread ticker_;
};

}  // namespace vornctl
