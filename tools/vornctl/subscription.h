// A subscriber's link to one publisher (`vornctl serve`): a SUB socket for
// the devices' data and metadata, a DEALER socket for controls and the
// recording lease, and what ZeroMQ's monitor says about the connection, so a
// user who gets nothing is told why. ZeroMQ does the framing, the reconnects
// (after a publisher's restart too), the high-water marks and CURVE; this
// reads what arrives and hands it on.
//
// One thread calls Poll; the handler is called on it. Request, Post, Hold
// and Release may be called from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/vornctl/curve_keys.h"
#include "tools/vornctl/publisher_address.h"
#include "tools/vornctl/stream_meta.h"
#include "tools/vornwire/wire_format.h"

namespace vornctl {

class SubscriptionHandler {
 public:
  virtual ~SubscriptionHandler() = default;
  virtual void OnMeta(const StreamMeta &meta) = 0;
  virtual void OnData(const vornwire::DataMessage &message) = 0;
  // A message that could not be read. A damaged one is skipped (its rows
  // become a gap by the sequence); a newer format ends the subscription.
  virtual void OnUnreadable(const std::string &serial, const vornwire::DecodeResult &result) = 0;
};

// A control's answer: the publisher's status (HTTP's meaning) and its reply;
// 502 when the control socket cannot be reached, 504 when it did not answer.
struct ControlAnswer {
  int status = 0;
  std::string error;
  nlohmann::json reply;
  bool ok() const { return status == 200; }
};
using AnswerFn = std::function<void(const ControlAnswer &)>;

struct SubscriptionOptions {
  PublisherAddress address;
  std::vector<std::string> serials;  // the devices to take; empty: every device
  CurveClientKeys keys;
  std::string holder;  // who holds a recording lease, as refusals name it
};

class Subscription {
 public:
  using Clock = std::chrono::steady_clock;
  // A request the publisher has not answered by then is given up.
  static constexpr auto kRequestTimeout = std::chrono::seconds(15);
  // The lease is renewed this often; the publisher keeps it for 5 s.
  static constexpr auto kHoldInterval = std::chrono::seconds(1);
  // Messages waiting in ZeroMQ for this subscriber beyond which it drops
  // them (the sequence then shows the gap): about 12 s of 32 devices.
  static constexpr int kReceiveHighWaterMark = 20000;

  Subscription(SubscriptionOptions options, SubscriptionHandler &handler);
  ~Subscription();
  Subscription(const Subscription &) = delete;
  Subscription &operator=(const Subscription &) = delete;

  // Makes the sockets and connects them (ZeroMQ connects in the background
  // and keeps trying).
  bool Open(std::string &error);
  // Takes what has arrived, waiting up to timeoutMs for something; runs the
  // posted work, renews the leases, gives up unanswered requests.
  void Poll(int timeoutMs);
  // A newer stream format was met: nothing more is taken.
  bool Stopped() const { return !stopReason_.empty(); }
  const std::string &StopReason() const { return stopReason_; }

  // From any thread; on the polling thread itself (a handler, an answer)
  // they act at once. done is called on the polling thread.
  void Request(nlohmann::json request, AnswerFn done);
  void Post(std::function<void()> work);
  // The recording lease on a device: sent now and every second until Release.
  void Hold(const std::string &serial);
  void Release(const std::string &serial);

  // Why nothing may have arrived, from what the connection did so far.
  std::string NothingArrivesAdvice() const;
  // A connection to the publisher completed its handshake (keys accepted).
  bool LinkUp() const { return link_.handshakes > 0; }
  const PublisherAddress &Address() const { return options_.address; }
  // Sends the releases and closes (waiting at most a second for them to leave).
  void Close();

 private:
  struct LinkState {
    bool connected = false;
    int connects = 0;
    int retries = 0;
    int handshakes = 0;
    int authFailures = 0;
    int protocolFailures = 0;
    int otherFailures = 0;
    std::uint32_t lastProtocolError = 0;
  };
  struct Pending {
    AnswerFn done;
    Clock::time_point deadline;
  };
  bool OnPollingThread() const { return pollingThread_.load() == std::this_thread::get_id(); }
  void ReadSubscription();
  void ReadReplies();
  void ReadMonitor();
  void RunQueued();
  void SendRequest(nlohmann::json request, AnswerFn done);
  void SendHolds();
  void Wake();

  SubscriptionOptions options_;
  SubscriptionHandler &handler_;
  struct Sockets;
  std::unique_ptr<Sockets> sockets_;
  int wakeFd_ = -1;
  std::string stopReason_;
  LinkState link_;
  vornwire::DataMessage data_;  // reused for every data message
  std::uint64_t nextId_ = 0;
  std::map<std::uint64_t, Pending> pending_;
  std::map<std::string, Clock::time_point> holds_;  // serial -> when the next lease is due
  std::set<std::string> holdRefused_;               // refusals already reported

  std::atomic<std::thread::id> pollingThread_{};
  std::mutex mutex_;  // guards queue_
  std::vector<std::function<void()>> queue_;
};

}  // namespace vornctl
