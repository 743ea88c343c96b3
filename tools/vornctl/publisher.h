// `vornctl serve`'s sockets on a thread of their own: the XPUB that sends
// every device's data and metadata, the ROUTER that takes the controls, and
// the ZAP handler that admits CURVE clients. Readers reach it only through
// the bounded queue, so the network never holds up a device.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <zmq.hpp>

#include "tools/vornctl/curve_keys.h"
#include "tools/vornctl/device_publisher.h"
#include "tools/vornctl/device_reader.h"
#include "tools/vornctl/net_endpoint.h"
#include "tools/vornctl/publish_queue.h"
#include "tools/vornctl/serve_controls.h"

namespace vornctl {

struct PublisherOptions {
  TcpEndpoint data;
  TcpEndpoint control;
  std::optional<CurveKeys> serverKeys;  // CURVE when set
  std::set<std::string> clientKeys;     // admitted client public keys (Z85)
  // Messages queued per subscriber before ZeroMQ drops for it (ZMQ_SNDHWM).
  int sendHighWater = 10000;
};

class Publisher {
 public:
  // Metadata is sent at least this often for every device, beside the copies
  // a new subscription and a change of state send at once.
  static constexpr auto kMetaInterval = std::chrono::milliseconds(500);

  Publisher(std::vector<DeviceReader *> devices, PublisherOptions options, const PublisherInfo &info);
  ~Publisher();
  Publisher(const Publisher &) = delete;
  Publisher &operator=(const Publisher &) = delete;

  // Makes and binds the sockets; the reason on failure.
  bool Bind(std::string &error);
  // The endpoints as bound (a "*" port resolved).
  const std::string &DataEndpoint() const { return dataEndpoint_; }
  const std::string &ControlEndpoint() const { return controlEndpoint_; }
  // Each device's consumer, to add to its reader before it streams.
  DevicePublisher &Consumer(std::size_t device) { return *consumers_[device]; }

  void Start();
  // Sends what is queued, then closes the sockets (waiting at most a second
  // for slow subscribers).
  void Stop();

  std::uint64_t Sent() const { return sent_.load(); }

 private:
  void Run();
  void Drain(std::deque<Outgoing> &items);
  void TakeSubscriptions();
  void TakeRequests();
  void Authenticate();
  void SendMeta(std::size_t device);
  void LogRefusal(const std::string &text);

  std::vector<DeviceReader *> devices_;
  PublisherOptions options_;
  const PublisherInfo &info_;
  PublishQueue queue_;
  ServeControls controls_;
  std::vector<std::unique_ptr<DevicePublisher>> consumers_;
  std::vector<std::string> dataTopics_;
  std::vector<std::string> metaTopics_;
  std::vector<std::string> lastMeta_;
  using Clock = std::chrono::steady_clock;
  std::vector<Clock::time_point> metaSentAt_;
  std::vector<bool> metaAsked_;  // a subscription asked for it; sent when the rate allows

  zmq::context_t context_;
  std::optional<zmq::socket_t> xpub_;
  std::optional<zmq::socket_t> router_;
  std::optional<zmq::socket_t> zap_;
  std::string dataEndpoint_;
  std::string controlEndpoint_;

  std::atomic<bool> stopping_{false};
  std::atomic<std::uint64_t> sent_{0};
  std::thread thread_;
  // Refusals logged in the current ten seconds, and those left out.
  Clock::time_point logWindow_{};
  int logged_ = 0;
  std::int64_t unlogged_ = 0;
};

}  // namespace vornctl
