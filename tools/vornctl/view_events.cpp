#include "tools/vornctl/view_events.h"

#include "tools/vornctl/view_json.h"

namespace vornctl {

namespace {
double WallMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
}
}  // namespace

EventHub::EventHub(const PanelList &panels) : panels_(panels) {}

EventHub::~EventHub() { Stop(); }

void EventHub::Start() {
  ticker_ = std::thread([this] { Tick(); });
}

void EventHub::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  wake_.notify_all();
  if (ticker_.joinable()) ticker_.join();
}

std::shared_ptr<EventHub::Subscriber> EventHub::Subscribe(std::function<void()> wake) {
  auto subscriber = std::make_shared<Subscriber>();
  subscriber->wake = std::move(wake);
  auto state = std::make_shared<const std::string>(StateMessage());
  subscriber->queue.push_back(state);
  subscriber->bytes = state->size();
  std::lock_guard<std::mutex> lock(mutex_);
  subscribers_.push_back(subscriber);
  return subscriber;
}

void EventHub::Unsubscribe(const std::shared_ptr<Subscriber> &subscriber) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase(subscribers_, subscriber);
}

std::size_t EventHub::SubscriberCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return subscribers_.size();
}

bool EventHub::Take(Subscriber &subscriber, std::string &out, std::size_t maxBytes) {
  std::lock_guard<std::mutex> lock(subscriber.mutex);
  if (subscriber.queue.empty()) return false;
  do {
    out += *subscriber.queue.front();
    subscriber.bytes -= subscriber.queue.front()->size();
    subscriber.queue.pop_front();
  } while (!subscriber.queue.empty() && out.size() + subscriber.queue.front()->size() <= maxBytes);
  return true;
}

bool EventHub::HasQueued(Subscriber &subscriber) {
  std::lock_guard<std::mutex> lock(subscriber.mutex);
  return !subscriber.queue.empty();
}

std::string EventHub::StateMessage() const {
  const nlohmann::json state = {{"sent", WallMs()}, {"devices", DevicesJson(panels_.Snapshot())}};
  return EventMessage("state", state.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void EventHub::Publish(std::shared_ptr<const std::string> message) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto &s : subscribers_) {
    {
      std::lock_guard<std::mutex> sl(s->mutex);
      // The oldest go first: a page that catches up wants the present.
      while (!s->queue.empty() && s->bytes + message->size() > kQueueBytes) {
        s->bytes -= s->queue.front()->size();
        s->queue.pop_front();
        ++s->lost;
      }
      s->queue.push_back(message);
      s->bytes += message->size();
    }
    if (s->wake) s->wake();
  }
}

void EventHub::Tick() {
  using Clock = std::chrono::steady_clock;
  Clock::time_point next = Clock::now();
  Clock::time_point nextState = next;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopped_) {
    next += kBlockInterval;
    wake_.wait_until(lock, next, [this] { return stopped_.load(); });
    if (stopped_) break;
    // A ticker that fell behind (a loaded machine) starts afresh rather than racing.
    if (Clock::now() > next + kBlockInterval) next = Clock::now();
    lock.unlock();
    // Blocks are taken even with no page open, so nothing piles up.
    std::vector<IndexedBlock> blocks;
    for (ViewPanel *d : panels_.Snapshot()) {
      IndexedBlock b;
      b.device = d->Index();
      if (d->TakeBlock(b.block)) blocks.push_back(std::move(b));
    }
    const bool anyPage = SubscriberCount() > 0;
    if (anyPage && !blocks.empty()) {
      Publish(std::make_shared<const std::string>(EventMessage("blocks", BlocksJson(blocks, WallMs()))));
    }
    if (Clock::now() >= nextState) {
      nextState = Clock::now() + kStateInterval;
      if (anyPage) Publish(std::make_shared<const std::string>(StateMessage()));
    }
    lock.lock();
  }
}

}  // namespace vornctl
