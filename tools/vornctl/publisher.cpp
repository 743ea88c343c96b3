#include "tools/vornctl/publisher.h"

#include <cstdio>

#include <zmq_addon.hpp>

#include "tools/vornctl/zap_handler.h"

namespace vornctl {

namespace {

// The smallest gap between two copies of a device's metadata that new
// subscriptions ask for: a flood of subscriptions costs no more than this.
constexpr auto kMetaMinGap = std::chrono::milliseconds(20);
// Subscriptions and control requests are small; a larger message from a
// peer ends its connection before it is read.
constexpr std::int64_t kMaxInboundBytes = 64 * 1024;
// Requests and subscriptions taken per wake-up, so neither starves the other or the data.
constexpr int kInboundPerWake = 256;
constexpr int kLingerMs = 1000;
// What the kernel may hold for one subscriber (Linux doubles it): a
// subscriber that stops reading then reaches its high-water mark within
// seconds, and costs the publisher bounded memory. Far above what a link's
// round trip needs at the stream's rate.
constexpr int kSendBufferBytes = 128 * 1024;
constexpr int kRefusalsPer10s = 20;

void Secure(zmq::socket_t &socket, const PublisherOptions &options, bool ipv6) {
  socket.set(zmq::sockopt::linger, kLingerMs);
  socket.set(zmq::sockopt::maxmsgsize, kMaxInboundBytes);
  if (ipv6) socket.set(zmq::sockopt::ipv6, 1);
  if (options.serverKeys) {
    socket.set(zmq::sockopt::zap_domain, "vorn");
    socket.set(zmq::sockopt::curve_server, 1);
    socket.set(zmq::sockopt::curve_secretkey, options.serverKeys->secretKey);
  }
}

std::string LastEndpoint(zmq::socket_t &socket) { return socket.get(zmq::sockopt::last_endpoint); }

}  // namespace

Publisher::Publisher(std::vector<DeviceReader *> devices, PublisherOptions options, const PublisherInfo &info)
    : devices_(std::move(devices)), options_(std::move(options)), info_(info), controls_(devices_) {
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    consumers_.push_back(std::make_unique<DevicePublisher>(i, queue_, info_));
    dataTopics_.push_back(vornwire::DataTopic(devices_[i]->Identity().serial));
    metaTopics_.push_back(vornwire::MetaTopic(devices_[i]->Identity().serial));
  }
  lastMeta_.resize(devices_.size());
  metaSentAt_.resize(devices_.size());
  metaAsked_.resize(devices_.size(), false);
}

Publisher::~Publisher() { Stop(); }

bool Publisher::Bind(std::string &error) {
  if (!queue_.Ok()) {
    error = "cannot make the publisher's wake-up descriptor";
    return false;
  }
  std::string at;
  try {
    if (options_.serverKeys) {
      // Before the servers bind, so no client slips in unchecked.
      zap_.emplace(context_, zmq::socket_type::rep);
      zap_->set(zmq::sockopt::linger, 0);
      at = kZapEndpoint;
      zap_->bind(kZapEndpoint);
    }
    xpub_.emplace(context_, zmq::socket_type::xpub);
    xpub_->set(zmq::sockopt::xpub_verbose, 1);
    xpub_->set(zmq::sockopt::sndhwm, options_.sendHighWater);
    xpub_->set(zmq::sockopt::sndbuf, kSendBufferBytes);
    Secure(*xpub_, options_, options_.data.ipv6);
    at = options_.data.Text();
    xpub_->bind(at);
    dataEndpoint_ = LastEndpoint(*xpub_);
    router_.emplace(context_, zmq::socket_type::router);
    Secure(*router_, options_, options_.control.ipv6);
    at = options_.control.Text();
    router_->bind(at);
    controlEndpoint_ = LastEndpoint(*router_);
  } catch (const zmq::error_t &e) {
    error = "cannot bind " + at + ": " + e.what();
    if (e.num() == EADDRINUSE) error += " (another program serves there; choose another port with --bind/--control)";
    if (e.num() == EADDRNOTAVAIL || e.num() == ENODEV) error += " (this machine has no such address)";
    return false;
  }
  return true;
}

void Publisher::Start() {
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    lastMeta_[i] = MetadataJson(*devices_[i], info_).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  thread_ = std::thread([this] { Run(); });
}

void Publisher::Stop() {
  stopping_ = true;
  queue_.Wake();
  if (thread_.joinable()) thread_.join();
  // Closed here, on the thread that joined the loop: the context's end waits for the linger.
  zap_.reset();
  xpub_.reset();
  router_.reset();
  context_.close();
}

void Publisher::SendMeta(std::size_t device) {
  metaAsked_[device] = false;
  metaSentAt_[device] = Clock::now();
  const std::string &meta = lastMeta_[device];
  xpub_->send(zmq::buffer(metaTopics_[device]), zmq::send_flags::sndmore | zmq::send_flags::dontwait);
  xpub_->send(zmq::buffer(meta), zmq::send_flags::dontwait);
}

void Publisher::Drain(std::deque<Outgoing> &items) {
  for (Outgoing &item : items) {
    switch (item.kind) {
      case Outgoing::Kind::Data:
        // XPUB never blocks: a subscriber over its high-water mark loses the
        // message and sees the jump in the sequence.
        xpub_->send(zmq::buffer(dataTopics_[item.device]), zmq::send_flags::sndmore | zmq::send_flags::dontwait);
        xpub_->send(zmq::buffer(item.payload), zmq::send_flags::dontwait);
        ++sent_;
        break;
      case Outgoing::Kind::Meta:
        lastMeta_[item.device] = std::move(item.payload);
        SendMeta(item.device);
        break;
      case Outgoing::Kind::Reply:
        // A peer that went away or is over its mark loses its reply; the router does not wait.
        try {
          router_->send(zmq::buffer(item.address), zmq::send_flags::sndmore | zmq::send_flags::dontwait);
          if (item.delimiter) router_->send(zmq::message_t(), zmq::send_flags::sndmore | zmq::send_flags::dontwait);
          router_->send(zmq::buffer(item.payload), zmq::send_flags::dontwait);
        } catch (const zmq::error_t &) {
        }
        break;
    }
  }
  items.clear();
}

void Publisher::TakeSubscriptions() {
  for (int n = 0; n < kInboundPerWake; ++n) {
    zmq::message_t message;
    if (!xpub_->recv(message, zmq::recv_flags::dontwait)) return;
    const std::string_view text(static_cast<const char *>(message.data()), message.size());
    if (text.empty() || text.front() != 1) continue;  // an unsubscription
    const std::string_view prefix = text.substr(1);
    for (std::size_t i = 0; i < devices_.size(); ++i) {
      if (std::string_view(dataTopics_[i]).substr(0, prefix.size()) == prefix ||
          std::string_view(metaTopics_[i]).substr(0, prefix.size()) == prefix) {
        metaAsked_[i] = true;
      }
    }
  }
}

void Publisher::TakeRequests() {
  for (int n = 0; n < kInboundPerWake; ++n) {
    std::vector<zmq::message_t> frames;
    if (!zmq::recv_multipart(*router_, std::back_inserter(frames), zmq::recv_flags::dontwait)) return;
    if (frames.size() < 2) continue;
    Outgoing reply;
    reply.kind = Outgoing::Kind::Reply;
    reply.address = frames[0].to_string();
    // A REQ client puts an empty frame before its request.
    reply.delimiter = frames.size() == 3 && frames[1].size() == 0;
    if (frames.size() > (reply.delimiter ? 3u : 2u)) {
      reply.payload = R"({"id":null,"status":400,"error":"a control request is one JSON frame"})";
      queue_.Push(std::move(reply));
      continue;
    }
    const std::string request = frames.back().to_string();
    controls_.Handle(request, [this, reply](std::string text) mutable {
      reply.payload = std::move(text);
      queue_.Push(std::move(reply));
    });
  }
}

void Publisher::LogRefusal(const std::string &text) {
  const Clock::time_point now = Clock::now();
  if (now - logWindow_ >= std::chrono::seconds(10)) {
    if (unlogged_ > 0) {
      std::fprintf(stderr, "vornctl: serve: %lld more refusal(s) not shown\n", static_cast<long long>(unlogged_));
    }
    logWindow_ = now;
    logged_ = 0;
    unlogged_ = 0;
  }
  if (logged_ >= kRefusalsPer10s) {
    ++unlogged_;
    return;
  }
  ++logged_;
  std::fprintf(stderr, "vornctl: serve: %s\n", text.c_str());
}

void Publisher::Authenticate() {
  for (int n = 0; n < kInboundPerWake; ++n) {
    std::vector<zmq::message_t> frames;
    if (!zmq::recv_multipart(*zap_, std::back_inserter(frames), zmq::recv_flags::dontwait)) return;
    std::vector<std::string> texts;
    for (const zmq::message_t &f : frames) texts.push_back(f.to_string());
    const ZapDecision d = DecideZap(texts, options_.clientKeys);
    std::vector<zmq::const_buffer> reply;
    for (const std::string &part : d.reply) reply.push_back(zmq::buffer(part));
    zmq::send_multipart(*zap_, reply);
    if (!d.admit) {
      LogRefusal("refused a client" + (d.address.empty() ? std::string() : " at " + d.address) + ": " + d.why +
                 (d.clientKey.empty() ? std::string() : " (key " + d.clientKey + ")"));
    }
  }
}

void Publisher::Run() {
  std::deque<Outgoing> items;
  Clock::time_point nextRound = Clock::now() + kMetaInterval;
  while (!stopping_) {
    const Clock::time_point now = Clock::now();
    Clock::time_point wakeAt = nextRound;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
      if (metaAsked_[i]) wakeAt = std::min(wakeAt, metaSentAt_[i] + kMetaMinGap);
    }
    const auto timeout =
        std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - now).count() + 1);
    std::vector<zmq::pollitem_t> watch = {{xpub_->handle(), 0, ZMQ_POLLIN, 0},
                                          {router_->handle(), 0, ZMQ_POLLIN, 0},
                                          {nullptr, queue_.WakeFd(), ZMQ_POLLIN, 0}};
    if (zap_) watch.push_back({zap_->handle(), 0, ZMQ_POLLIN, 0});
    try {
      zmq::poll(watch.data(), watch.size(), std::chrono::milliseconds(timeout));
      if (zap_ && (watch[3].revents & ZMQ_POLLIN)) Authenticate();
      if (watch[0].revents & ZMQ_POLLIN) TakeSubscriptions();
      if (watch[1].revents & ZMQ_POLLIN) TakeRequests();
      queue_.TakeAll(items);
      Drain(items);
      const Clock::time_point after = Clock::now();
      for (std::size_t i = 0; i < devices_.size(); ++i) {
        if (metaAsked_[i] && after - metaSentAt_[i] >= kMetaMinGap) SendMeta(i);
      }
      if (after >= nextRound) {
        for (std::size_t i = 0; i < devices_.size(); ++i) SendMeta(i);
        nextRound = after + kMetaInterval;
      }
    } catch (const zmq::error_t &e) {
      if (e.num() == ETERM) break;
      std::fprintf(stderr, "vornctl: serve: %s\n", e.what());
    }
  }
  // What the readers handed in before they stopped still goes out.
  try {
    queue_.TakeAll(items);
    Drain(items);
  } catch (const zmq::error_t &) {
  }
}

}  // namespace vornctl
