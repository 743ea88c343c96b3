// One client connection of `vornctl view`: its requests, read within the
// limits of view_limits.h and checked before any body is read, and, when it
// asks for them, its event stream.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <nlohmann/json.hpp>

#include "tools/vornctl/view_panel.h"
#include "tools/vornctl/view_events.h"

namespace vornctl {

class ViewConnection;

// Lets other threads (devices' workers, the event ticker) hand work to the
// server's thread until the server stops; after that their work is dropped.
class ServerGate {
 public:
  explicit ServerGate(boost::asio::io_context &io) : io_(&io) {}
  void Post(std::function<void()> work);
  void Close();

 private:
  std::mutex mutex_;
  boost::asio::io_context *io_;
};

// What every connection shares; touched only on the server's thread (but
// refuseControls, set from the main thread).
struct ServerShared {
  const PanelList *devices = nullptr;
  EventHub *hub = nullptr;
  std::string token;
  int port = 0;
  std::map<std::string, std::pair<std::string, std::string>> files;  // path -> content, type
  std::list<ViewConnection *> connections;                           // oldest first
  std::map<std::string, std::size_t> streamsByClient;
  std::size_t streams = 0;
  std::atomic<bool> refuseControls{false};
};

class ViewConnection : public std::enable_shared_from_this<ViewConnection> {
 public:
  ViewConnection(boost::asio::ip::tcp::socket socket, std::shared_ptr<ServerShared> shared,
                 std::shared_ptr<ServerGate> gate);
  ~ViewConnection();
  ViewConnection(const ViewConnection &) = delete;
  ViewConnection &operator=(const ViewConnection &) = delete;

  void Start();
  // From the server: ends the connection now, without a goodbye.
  void Close();
  // Still waiting for (the rest of) a request: the first to make room.
  bool WaitingForRequest() const { return phase_ == Phase::Head || phase_ == Phase::Body; }

 private:
  enum class Phase { Head, Body, Working, Answering, Events, Draining, Closed };
  using Parser = boost::beast::http::request_parser<boost::beast::http::string_body>;

  void ReadHead();
  void OnHead(boost::beast::error_code ec);
  // Answers a refusal or a page request at once, or returns false to go on.
  bool Checked();
  void ReadBody();
  void Dispatch();
  void RunControlRequest(const std::string &device, const std::string &action);
  void Answer(int status, std::string body, const std::string &type);
  void AnswerJson(int status, const nlohmann::json &body);
  void Refuse(int status, const std::string &text);
  void Drain();
  void DrainSome();
  void Shut();

  void StartEvents();
  void PumpEvents();
  void WatchEvents();
  void NoticeLeaving();
  bool EventsStalled();

  Phase phase_ = Phase::Head;
  boost::beast::tcp_stream stream_;
  boost::beast::flat_buffer buffer_;
  std::optional<Parser> parser_;
  std::shared_ptr<ServerShared> shared_;
  std::shared_ptr<ServerGate> gate_;
  std::list<ViewConnection *>::iterator registered_;
  std::string client_;  // the peer's address
  unsigned version_ = 11;
  std::vector<std::pair<std::string, std::string>> extraHeaders_;
  bool requestDone_ = false;  // the whole request was read (so the connection may be kept)
  std::array<char, 4096> scratch_{};
  std::size_t drained_ = 0;

  // The event stream.
  std::shared_ptr<EventHub::Subscriber> subscriber_;
  bool counted_ = false;
  bool writing_ = false;
  bool idleArmed_ = false;
  std::string out_;
  std::uint64_t sent_ = 0;      // bytes handed to the kernel
  std::int64_t bestAcked_ = 0;  // the most the peer has acknowledged
  std::chrono::steady_clock::time_point lastProgress_;
  boost::asio::steady_timer idle_;
  boost::asio::steady_timer watch_;
};

}  // namespace vornctl
