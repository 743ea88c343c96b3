#include "tools/vornctl/subscription.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include <zmq.hpp>

namespace vornctl {

namespace {

// The largest data message the format allows (131072 rows of 256 channels)
// and its header; ZeroMQ drops a peer that sends more.
constexpr std::int64_t kMaxMessageBytes = (std::int64_t{1} << 26) + (1 << 16);
// Replies and refusals are short; a longer one is not from a publisher.
constexpr std::int64_t kMaxReplyBytes = 1 << 20;
// Messages read in one Poll before the other sockets get a turn.
constexpr int kBatchMessages = 4096;
// A dead link (a pulled cable) is noticed by ZeroMQ's heartbeats and
// connected again; reconnecting starts fast and backs off to 2 s.
constexpr int kHeartbeatMs = 1000;
constexpr int kHeartbeatTimeoutMs = 5000;
constexpr int kReconnectMs = 100;
constexpr int kReconnectMaxMs = 2000;
constexpr int kLingerMs = 1000;

std::atomic<int> monitorCount{0};

// Text of a reply, for a message: short and printable.
std::string Shorten(std::string text) {
  if (text.size() > 300) text = text.substr(0, 300) + "...";
  return text;
}

}  // namespace

struct Subscription::Sockets {
  zmq::context_t context{1};
  zmq::socket_t sub{context, zmq::socket_type::sub};
  zmq::socket_t control{context, zmq::socket_type::dealer};
  zmq::socket_t monitor{context, zmq::socket_type::pair};
};

Subscription::Subscription(SubscriptionOptions options, SubscriptionHandler &handler)
    : options_(std::move(options)), handler_(handler) {}

Subscription::~Subscription() { Close(); }

bool Subscription::Open(std::string &error) {
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) {
    error = std::string("cannot make an event: ") + std::strerror(errno);
    return false;
  }
  try {
    sockets_ = std::make_unique<Sockets>();
    Sockets &s = *sockets_;
    const std::string monitorUrl = "inproc://vornctl-monitor-" + std::to_string(++monitorCount);
    if (zmq_socket_monitor(s.sub.handle(), monitorUrl.c_str(),
                           ZMQ_EVENT_CONNECTED | ZMQ_EVENT_CONNECT_RETRIED | ZMQ_EVENT_DISCONNECTED |
                               ZMQ_EVENT_HANDSHAKE_SUCCEEDED | ZMQ_EVENT_HANDSHAKE_FAILED_AUTH |
                               ZMQ_EVENT_HANDSHAKE_FAILED_PROTOCOL | ZMQ_EVENT_HANDSHAKE_FAILED_NO_DETAIL) != 0) {
      error = std::string("cannot watch the connection: ") + zmq_strerror(zmq_errno());
      return false;
    }
    s.monitor.connect(monitorUrl);
    for (zmq::socket_t *socket : {&s.sub, &s.control}) {
      socket->set(zmq::sockopt::linger, socket == &s.sub ? 0 : kLingerMs);
      socket->set(zmq::sockopt::ipv6, 1);
      socket->set(zmq::sockopt::reconnect_ivl, kReconnectMs);
      socket->set(zmq::sockopt::reconnect_ivl_max, kReconnectMaxMs);
      socket->set(zmq::sockopt::heartbeat_ivl, kHeartbeatMs);
      socket->set(zmq::sockopt::heartbeat_timeout, kHeartbeatTimeoutMs);
      if (options_.keys.Enabled()) {
        socket->set(zmq::sockopt::curve_serverkey, options_.keys.serverPublic);
        socket->set(zmq::sockopt::curve_publickey, options_.keys.clientPublic);
        socket->set(zmq::sockopt::curve_secretkey, options_.keys.clientSecret);
      }
    }
    s.sub.set(zmq::sockopt::rcvhwm, kReceiveHighWaterMark);
    s.sub.set(zmq::sockopt::maxmsgsize, kMaxMessageBytes);
    s.control.set(zmq::sockopt::maxmsgsize, kMaxReplyBytes);
    // A request to a publisher that is not there fails at once instead of
    // waiting in a queue for it.
    s.control.set(zmq::sockopt::immediate, 1);
    if (options_.serials.empty()) {
      s.sub.set(zmq::sockopt::subscribe, "");
    } else {
      // "SERIAL/" and not "SERIAL": a device whose serial begins with another's is not taken.
      for (const std::string &serial : options_.serials) s.sub.set(zmq::sockopt::subscribe, serial + "/");
    }
    s.sub.connect(options_.address.url);
    s.control.connect(options_.address.controlUrl);
  } catch (const zmq::error_t &e) {
    error = "cannot connect to " + options_.address.url + ": " + e.what();
    sockets_.reset();
    return false;
  }
  return true;
}

void Subscription::Close() {
  if (!sockets_) {
    if (wakeFd_ >= 0) close(wakeFd_);
    wakeFd_ = -1;
    return;
  }
  // Work handed over and not yet done: requests are sent (and answered
  // below), releases go out.
  pollingThread_ = std::this_thread::get_id();
  RunQueued();
  for (const auto &[serial, due] : holds_) {
    (void)due;
    const nlohmann::json release = {{"id", ++nextId_}, {"action", "release"}, {"device", serial}};
    const std::string text = release.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    try {
      (void)sockets_->control.send(zmq::buffer(text), zmq::send_flags::dontwait);
    } catch (const zmq::error_t &) {
    }
  }
  holds_.clear();
  for (auto &[id, p] : pending_) {
    (void)id;
    p.done({503, "the subscription is closing", nullptr});
  }
  pending_.clear();
  zmq_socket_monitor(sockets_->sub.handle(), nullptr, 0);
  // The context waits up to the linger for the releases to leave.
  sockets_.reset();
  if (wakeFd_ >= 0) close(wakeFd_);
  wakeFd_ = -1;
}

void Subscription::Wake() {
  const std::uint64_t one = 1;
  if (wakeFd_ >= 0) (void)!write(wakeFd_, &one, sizeof one);
}

void Subscription::Post(std::function<void()> work) {
  if (OnPollingThread()) return work();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(work));
  }
  Wake();
}

void Subscription::Request(nlohmann::json request, AnswerFn done) {
  Post([this, request = std::move(request), done = std::move(done)]() mutable {
    SendRequest(std::move(request), std::move(done));
  });
}

void Subscription::Hold(const std::string &serial) {
  Post([this, serial] {
    holds_[serial] = Clock::now();
    SendHolds();
  });
}

void Subscription::Release(const std::string &serial) {
  Post([this, serial] {
    if (holds_.erase(serial) == 0) return;
    holdRefused_.erase(serial);
    SendRequest({{"action", "release"}, {"device", serial}}, [](const ControlAnswer &) {});
  });
}

void Subscription::SendRequest(nlohmann::json request, AnswerFn done) {
  if (!sockets_) return done({503, "the subscription is closed", nullptr});
  const std::uint64_t id = ++nextId_;
  request["id"] = id;
  const std::string text = request.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  bool sent = false;
  try {
    sent = sockets_->control.send(zmq::buffer(text), zmq::send_flags::dontwait).has_value();
  } catch (const zmq::error_t &) {
  }
  if (!sent) {
    return done({502,
                 "cannot reach the publisher's control socket at " + options_.address.controlUrl +
                     " (is vornctl serve running there, and are the keys right?)",
                 nullptr});
  }
  pending_[id] = Pending{std::move(done), Clock::now() + kRequestTimeout};
}

void Subscription::SendHolds() {
  const Clock::time_point now = Clock::now();
  for (auto &[serial, due] : holds_) {
    if (now < due) continue;
    due = now + kHoldInterval;
    const std::string device = serial;
    SendRequest({{"action", "hold"}, {"device", serial}, {"holder", options_.holder}},
                [this, device](const ControlAnswer &answer) {
                  // A lease that cannot be sent now is sent again in a second;
                  // a refusal is said once.
                  if (answer.ok() || answer.status == 502 || !holds_.count(device)) {
                    if (answer.ok()) holdRefused_.erase(device);
                    return;
                  }
                  if (holdRefused_.insert(device).second) {
                    std::fprintf(stderr,
                                 "vornctl: %s: the publisher does not hold its stream for this recording (%d: %s); "
                                 "another client may change it meanwhile\n",
                                 device.c_str(), answer.status, Shorten(answer.error).c_str());
                  }
                });
  }
}

void Subscription::RunQueued() {
  std::uint64_t count = 0;
  if (wakeFd_ >= 0) (void)!read(wakeFd_, &count, sizeof count);
  std::vector<std::function<void()>> work;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    work.swap(queue_);
  }
  for (auto &w : work) w();
}

void Subscription::Poll(int timeoutMs) {
  if (!sockets_) return;
  pollingThread_ = std::this_thread::get_id();
  Sockets &s = *sockets_;
  zmq::pollitem_t items[] = {{s.sub.handle(), 0, ZMQ_POLLIN, 0},
                             {s.control.handle(), 0, ZMQ_POLLIN, 0},
                             {s.monitor.handle(), 0, ZMQ_POLLIN, 0},
                             {nullptr, wakeFd_, ZMQ_POLLIN, 0}};
  try {
    zmq::poll(items, 4, std::chrono::milliseconds(timeoutMs));
  } catch (const zmq::error_t &e) {
    if (e.num() != EINTR) throw;
    return;
  }
  if (items[3].revents & ZMQ_POLLIN) RunQueued();
  if (items[0].revents & ZMQ_POLLIN) ReadSubscription();
  if (items[1].revents & ZMQ_POLLIN) ReadReplies();
  if (items[2].revents & ZMQ_POLLIN) ReadMonitor();
  SendHolds();
  const Clock::time_point now = Clock::now();
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (now < it->second.deadline) {
      ++it;
      continue;
    }
    AnswerFn done = std::move(it->second.done);
    it = pending_.erase(it);
    done({504,
          "the publisher at " + options_.address.controlUrl + " did not answer within " +
              std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kRequestTimeout).count()) + " s",
          nullptr});
  }
}

void Subscription::ReadSubscription() {
  Sockets &s = *sockets_;
  zmq::message_t topic;
  zmq::message_t payload;
  zmq::message_t extra;
  for (int i = 0; i < kBatchMessages && !Stopped(); ++i) {
    if (!s.sub.recv(topic, zmq::recv_flags::dontwait)) return;
    int frames = 1;
    if (topic.more()) {
      (void)s.sub.recv(payload, zmq::recv_flags::none);
      ++frames;
      // Frames beyond the two of the format are read and dropped, never kept.
      for (bool more = payload.more(); more; more = extra.more()) {
        (void)s.sub.recv(extra, zmq::recv_flags::none);
        ++frames;
      }
    }
    const std::string_view topicText(static_cast<const char *>(topic.data()), topic.size());
    const std::string serial = vornwire::TopicSerial(topicText);
    if (serial.empty()) continue;  // a topic of a later revision
    if (frames != 2) {
      handler_.OnUnreadable(
          serial, {vornwire::DecodeStatus::Damaged, "damaged message: " + std::to_string(frames) + " frames, not 2"});
      continue;
    }
    if (vornwire::IsMetaTopic(topicText)) {
      StreamMeta meta;
      vornwire::DecodeResult r =
          ParseStreamMeta(std::string_view(static_cast<const char *>(payload.data()), payload.size()), meta);
      if (r.ok() && meta.serial != serial) r = {vornwire::DecodeStatus::Damaged, "damaged metadata: serial differs"};
      if (r.status == vornwire::DecodeStatus::NewerVersion) stopReason_ = r.error;
      if (r.ok()) {
        handler_.OnMeta(meta);
      } else {
        handler_.OnUnreadable(serial, r);
      }
      continue;
    }
    vornwire::DecodeResult r = vornwire::DecodeData(payload.data(), payload.size(), data_);
    if (r.ok() && data_.header.serial != serial) {
      r = {vornwire::DecodeStatus::Damaged, "damaged data message: serial differs from its topic"};
    }
    if (r.status == vornwire::DecodeStatus::NewerVersion) stopReason_ = r.error;
    if (r.ok()) {
      handler_.OnData(data_);
    } else {
      handler_.OnUnreadable(serial, r);
    }
  }
}

void Subscription::ReadReplies() {
  Sockets &s = *sockets_;
  for (int i = 0; i < kBatchMessages; ++i) {
    zmq::message_t frame;
    if (!s.control.recv(frame, zmq::recv_flags::dontwait)) return;
    // A ROUTER answering a REQ-style request puts an empty frame first.
    std::string body = frame.to_string();
    while (frame.more()) {
      (void)s.control.recv(frame, zmq::recv_flags::none);
      if (frame.size() > 0) body = frame.to_string();
    }
    const nlohmann::json reply = nlohmann::json::parse(body, nullptr, false);
    if (reply.is_discarded() || !reply.is_object()) continue;
    const auto id = reply.find("id");
    if (id == reply.end() || !id->is_number_unsigned()) continue;
    const auto it = pending_.find(id->get<std::uint64_t>());
    if (it == pending_.end()) continue;  // given up already
    AnswerFn done = std::move(it->second.done);
    pending_.erase(it);
    ControlAnswer answer;
    const auto status = reply.find("status");
    answer.status = status != reply.end() && status->is_number_integer() ? status->get<int>() : 502;
    const auto error = reply.find("error");
    if (error != reply.end() && error->is_string()) answer.error = Shorten(error->get<std::string>());
    if (answer.status != 200 && answer.error.empty()) {
      answer.error = "the publisher refused it (" + std::to_string(answer.status) + ")";
    }
    answer.reply = reply;
    done(answer);
  }
}

void Subscription::ReadMonitor() {
  Sockets &s = *sockets_;
  for (int i = 0; i < 1000; ++i) {
    zmq::message_t event;
    if (!s.monitor.recv(event, zmq::recv_flags::dontwait)) return;
    zmq::message_t address;
    if (event.more()) (void)s.monitor.recv(address, zmq::recv_flags::none);
    if (event.size() < 6) continue;
    std::uint16_t id = 0;
    std::uint32_t value = 0;
    std::memcpy(&id, event.data(), 2);
    std::memcpy(&value, static_cast<const char *>(event.data()) + 2, 4);
    switch (id) {
      case ZMQ_EVENT_CONNECTED:
        link_.connected = true;
        ++link_.connects;
        break;
      case ZMQ_EVENT_CONNECT_RETRIED: ++link_.retries; break;
      case ZMQ_EVENT_DISCONNECTED: link_.connected = false; break;
      case ZMQ_EVENT_HANDSHAKE_SUCCEEDED: ++link_.handshakes; break;
      case ZMQ_EVENT_HANDSHAKE_FAILED_AUTH: ++link_.authFailures; break;
      case ZMQ_EVENT_HANDSHAKE_FAILED_PROTOCOL:
        ++link_.protocolFailures;
        link_.lastProtocolError = value;
        break;
      case ZMQ_EVENT_HANDSHAKE_FAILED_NO_DETAIL: ++link_.otherFailures; break;
      default: break;
    }
  }
}

std::string Subscription::NothingArrivesAdvice() const {
  const PublisherAddress &a = options_.address;
  const bool keys = options_.keys.Enabled();
  if (link_.authFailures > 0) {
    return "the publisher at " + a.url +
           " refused this client's key: its --curve-clients file must list the public key of --client-key "
           "(the NAME.pub beside your NAME.key)";
  }
  if (link_.protocolFailures > 0 || link_.otherFailures > 0) {
    if (!keys) {
      return "the publisher at " + a.url +
             " asks for keys: give --server-key (its public key) and --client-key (your key pair from "
             "'vornctl keygen NAME', whose NAME.pub it must list)";
    }
    if (link_.lastProtocolError == ZMQ_PROTOCOL_ERROR_ZMTP_MECHANISM_MISMATCH) {
      return "the publisher at " + a.url + " does not use keys, but this client was given --server-key";
    }
    return "the handshake with the publisher at " + a.url +
           " failed: is --server-key its public key, and does it list yours?";
  }
  if (link_.connects == 0) {
    return "nothing answers at " + a.url + ": is vornctl serve running on " + a.host + ", on port " +
           std::to_string(a.port) + "? (vornctl keeps trying)";
  }
  if (link_.handshakes == 0) {
    return keys ? "the publisher at " + a.url + " does not complete the handshake: is --server-key its public key?"
                : "the publisher at " + a.url + " does not complete the handshake: does it ask for keys?";
  }
  return "";
}

}  // namespace vornctl
