// The page's event stream: a ticker takes every device's new lines about 30
// times a second and hands one message to each connected page. Each page has
// a bounded queue of its own, so a slow or vanished page costs at most that
// queue and never holds up a device's reader.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/vornctl/view_panel.h"

namespace vornctl {

class EventHub {
 public:
  struct Subscriber {
    std::mutex mutex;
    std::deque<std::shared_ptr<const std::string>> queue;
    std::size_t bytes = 0;
    std::int64_t lost = 0;  // messages dropped because the page fell behind
    // Called (from the ticker's thread) when a message was queued; must not block.
    std::function<void()> wake;
  };

  static constexpr std::size_t kQueueBytes = 4 * 1024 * 1024;
  static constexpr auto kBlockInterval = std::chrono::milliseconds(33);
  static constexpr auto kStateInterval = std::chrono::milliseconds(250);

  // panels must outlive the hub.
  explicit EventHub(const PanelList &panels);
  ~EventHub();
  EventHub(const EventHub &) = delete;
  EventHub &operator=(const EventHub &) = delete;

  void Start();
  // Ends the ticker; no page is woken after it.
  void Stop();
  bool Stopped() const { return stopped_.load(); }

  std::shared_ptr<Subscriber> Subscribe(std::function<void()> wake);
  void Unsubscribe(const std::shared_ptr<Subscriber> &subscriber);
  std::size_t SubscriberCount() const;
  // Appends queued messages to out, oldest first, up to about maxBytes (at
  // least one); false when none was queued.
  static bool Take(Subscriber &subscriber, std::string &out, std::size_t maxBytes);
  static bool HasQueued(Subscriber &subscriber);

  // The "state" message now (also sent to a page when it connects).
  std::string StateMessage() const;

 private:
  void Tick();
  void Publish(std::shared_ptr<const std::string> message);

  const PanelList &panels_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::shared_ptr<Subscriber>> subscribers_;
  std::atomic<bool> stopped_{false};
  std::thread ticker_;
};

}  // namespace vornctl
