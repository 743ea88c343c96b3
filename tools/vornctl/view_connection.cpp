#include "tools/vornctl/view_connection.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

#include <limits>

#include "tools/vornctl/view_controls.h"
#include "tools/vornctl/view_http_rules.h"
#include "tools/vornctl/view_json.h"
#include "tools/vornctl/view_limits.h"

namespace vornctl {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using Clock = std::chrono::steady_clock;
using namespace view_limits;

constexpr std::string_view kDevicesPath = "/api/devices";
constexpr std::string_view kEventsPath = "/api/events";
constexpr std::string_view kControlPrefix = "/api/devices/";
// One write of an event stream takes at most about this much of its queue.
constexpr std::size_t kEventBatchBytes = 256 * 1024;
constexpr auto kIdleComment = std::chrono::seconds(1);
constexpr auto kWatchInterval = std::chrono::milliseconds(500);

const char kEventsHead[] =
    "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
    "X-Accel-Buffering: no\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n";

std::string_view View(beast::string_view text) { return {text.data(), text.size()}; }

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// "/api/devices/N/ACTION" into N and ACTION.
bool SplitControlPath(std::string_view path, std::string &device, std::string &action) {
  if (!StartsWith(path, kControlPrefix)) return false;
  path.remove_prefix(kControlPrefix.size());
  const auto slash = path.find('/');
  if (slash == std::string_view::npos || slash == 0) return false;
  if (!IsControlAction(path.substr(slash + 1))) return false;
  device = std::string(path.substr(0, slash));
  action = std::string(path.substr(slash + 1));
  return true;
}

std::string FieldText(const http::request_header<> &head, http::field field) {
  const auto it = head.find(field);
  return it == head.end() ? std::string() : std::string(View(it->value()));
}

// The token from the X-Vorn-Token header (scripts) or the page's cookie.
bool Authorised(const http::request_header<> &head, const std::string &token, int port) {
  const auto header = head.find("X-Vorn-Token");
  if (header != head.end() && TokenMatches(View(header->value()), token)) return true;
  const std::string cookie = TokenCookieName(port);
  for (auto [it, end] = head.equal_range(http::field::cookie); it != end; ++it) {
    if (TokenMatches(CookieValue(View(it->value()), cookie), token)) return true;
  }
  return false;
}

// Text of a request for a message: short, and printable.
std::string Shown(std::string_view text, std::size_t limit) {
  std::string out;
  for (char c : text.substr(0, limit)) out += (c >= 0x20 && c < 0x7f) ? c : '?';
  return out;
}

}  // namespace

void ServerGate::Post(std::function<void()> work) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (io_) asio::post(*io_, std::move(work));
}

void ServerGate::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  io_ = nullptr;
}

ViewConnection::ViewConnection(asio::ip::tcp::socket socket, std::shared_ptr<ServerShared> shared,
                               std::shared_ptr<ServerGate> gate)
    : stream_(std::move(socket)), buffer_(kHeadBytes + kBodyBytes + 4096), shared_(std::move(shared)),
      gate_(std::move(gate)), idle_(stream_.get_executor()), watch_(stream_.get_executor()) {
  beast::error_code ec;
  const auto peer = stream_.socket().remote_endpoint(ec);
  client_ = ec ? "unknown" : peer.address().to_string();
  registered_ = shared_->connections.insert(shared_->connections.end(), this);
}

ViewConnection::~ViewConnection() {
  if (subscriber_) shared_->hub->Unsubscribe(subscriber_);
  if (counted_) {
    --shared_->streams;
    if (--shared_->streamsByClient[client_] == 0) shared_->streamsByClient.erase(client_);
  }
  shared_->connections.erase(registered_);
}

void ViewConnection::Start() { ReadHead(); }

void ViewConnection::Close() {
  phase_ = Phase::Closed;
  stream_.close();
  idle_.cancel();
  watch_.cancel();
}

void ViewConnection::Shut() {
  if (phase_ == Phase::Closed) return;
  beast::error_code ec;
  stream_.socket().shutdown(asio::ip::tcp::socket::shutdown_both, ec);
  Close();
}

void ViewConnection::ReadHead() {
  phase_ = Phase::Head;
  requestDone_ = false;
  extraHeaders_.clear();
  parser_.emplace();
  parser_->header_limit(static_cast<std::uint32_t>(kHeadBytes));
  // The announced length is judged with the rest of the head (so the answer
  // can say why); the limit itself is set for the body's reading. (Not
  // boost::none: this Beast takes any length to be over that.)
  parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
  // One deadline for the whole head: a client that trickles bytes gains no time.
  stream_.expires_after(kHeadTime);
  http::async_read_header(stream_, buffer_, *parser_,
                          [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnHead(ec); });
}

void ViewConnection::OnHead(beast::error_code ec) {
  if (phase_ == Phase::Closed) return;
  if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
    return Refuse(431, "the request's head is over " + std::to_string(kHeadBytes / 1024) + " KiB");
  }
  if (ec == beast::error::timeout) {
    // A client that asked nothing (an idle keep-alive) just goes.
    if (buffer_.size() == 0 && !parser_->got_some()) return Shut();
    return Refuse(408, "the request did not arrive within " + std::to_string(kHeadTime.count()) + " s");
  }
  if (ec == http::error::end_of_stream || ec == asio::error::eof || ec == asio::error::connection_reset ||
      ec == asio::error::operation_aborted) {
    return Shut();
  }
  if (ec) return Refuse(400, "not a request vornctl view understands (" + ec.message() + ")");
  if (Checked()) return;
  if (parser_->is_done()) {
    requestDone_ = true;
    return Dispatch();
  }
  ReadBody();
}

// Everything that can be told from the head is checked here, before a byte
// of the body is read: who asks, what for, and in what form.
bool ViewConnection::Checked() {
  const auto &head = parser_->get().base();
  version_ = head.version();
  const RequestTarget target = SplitTarget(View(head.target()));
  const std::string method = Shown(View(head.method_string()), 16);

  if (static_cast<std::size_t>(std::distance(head.begin(), head.end())) > kHeaderFields) {
    Refuse(431, "the request has over " + std::to_string(kHeaderFields) + " header fields");
    return true;
  }
  if (shared_->token.empty() && !IsLoopbackHost(FieldText(head, http::field::host), shared_->port)) {
    // Loopback only: a page of another site that the browser shows must not
    // reach the recorder through a name that resolves here.
    Refuse(403, "vornctl view answers only to 127.0.0.1 or localhost");
    return true;
  }
  if (StartsWith(target.path, "/api/") && !shared_->token.empty() && !Authorised(head, shared_->token, shared_->port)) {
    Refuse(403, QueryValue(target.query, "token").empty()
                    ? "this vornctl view needs the token it printed when it started: open one of the URLs it "
                      "printed (scripts send it in the X-Vorn-Token header)"
                    : "the token goes in the X-Vorn-Token header (or the page's cookie), not in an /api URL");
    return true;
  }
  std::string device, action;
  const bool isControl = SplitControlPath(target.path, device, action);
  if (!isControl && target.path != kDevicesPath && target.path != kEventsPath && !shared_->files.count(target.path)) {
    Refuse(404, "no such request: " + method + " " + Shown(target.path, 200));
    return true;
  }
  const http::verb wanted = isControl ? http::verb::post : http::verb::get;
  if (head.method() != wanted) {
    extraHeaders_.emplace_back("Allow", isControl ? "POST" : "GET");
    Refuse(405, Shown(target.path, 200) + " takes " + (isControl ? "POST" : "GET") + ", not " + method);
    return true;
  }
  if (!IsIdentityEncoding(FieldText(head, http::field::content_encoding))) {
    // Unpacking would let a small request grow without bound.
    Refuse(415, "compressed request bodies are not accepted (Content-Encoding); send the JSON as it is");
    return true;
  }
  if (isControl && !MediaTypeIs(FieldText(head, http::field::content_type), "application/json")) {
    // Another site's page can send a form or text POST without asking; a JSON one it cannot.
    Refuse(415, "controls take a JSON body (Content-Type: application/json)");
    return true;
  }
  if (parser_->content_length() && *parser_->content_length() > kBodyBytes) {
    Refuse(413, "a request's body is at most " + std::to_string(kBodyBytes) + " bytes");
    return true;
  }
  return false;
}

void ViewConnection::ReadBody() {
  phase_ = Phase::Body;
  parser_->body_limit(kBodyBytes);
  auto read = [self = shared_from_this()] {
    self->stream_.expires_after(kBodyTime);
    http::async_read(self->stream_, self->buffer_, *self->parser_, [self](beast::error_code ec, std::size_t) {
      if (self->phase_ == Phase::Closed) return;
      if (ec == http::error::body_limit || ec == http::error::buffer_overflow) {
        return self->Refuse(413, "a request's body is at most " + std::to_string(kBodyBytes) + " bytes");
      }
      if (ec == beast::error::timeout) {
        return self->Refuse(408,
                            "the request's body did not arrive within " + std::to_string(kBodyTime.count()) + " s");
      }
      if (ec) return self->Shut();
      self->requestDone_ = true;
      self->Dispatch();
    });
  };
  const auto &head = parser_->get().base();
  if (beast::iequals(FieldText(head, http::field::expect), "100-continue")) {
    // The client waits for this before it sends the body.
    auto go = std::make_shared<http::response<http::empty_body>>(http::status::continue_, version_);
    stream_.expires_after(kWriteTime);
    http::async_write(stream_, *go, [self = shared_from_this(), go, read](beast::error_code ec, std::size_t) {
      if (ec) return self->Shut();
      read();
    });
    return;
  }
  read();
}

void ViewConnection::Dispatch() {
  const auto &request = parser_->get();
  const RequestTarget target = SplitTarget(View(request.target()));
  std::string device, action;
  if (SplitControlPath(target.path, device, action)) return RunControlRequest(device, action);
  if (target.path == kDevicesPath) return AnswerJson(200, {{"devices", DevicesJson(shared_->devices->Snapshot())}});
  if (target.path == kEventsPath) return StartEvents();

  const std::string given = QueryValue(target.query, "token");
  if (!shared_->token.empty() && !given.empty()) {
    // The token comes once, in the URL printed; from then on the cookie
    // carries it and the address bar no longer shows it.
    if (TokenMatches(given, shared_->token)) {
      extraHeaders_.emplace_back("Set-Cookie", TokenCookie(shared_->port, shared_->token));
    }
    extraHeaders_.emplace_back("Location", target.path);
    return Answer(303, "", "text/plain; charset=utf-8");
  }
  const auto &file = shared_->files.at(target.path);
  extraHeaders_.emplace_back("X-Frame-Options", "DENY");
  extraHeaders_.emplace_back("Content-Security-Policy", "frame-ancestors 'none'");
  extraHeaders_.emplace_back("Referrer-Policy", "no-referrer");
  Answer(200, file.first, file.second);
}

void ViewConnection::RunControlRequest(const std::string &device, const std::string &action) {
  if (shared_->refuseControls) return Refuse(503, "vornctl view is stopping; no more controls");
  phase_ = Phase::Working;
  // The device answers from its worker; the answer is written from the server's thread.
  RunControl(shared_->devices->Snapshot(), device, action, parser_->get().body(),
             [self = shared_from_this()](ControlReply reply) {
               auto gate = self->gate_;
               gate->Post([self, reply = std::move(reply)] {
                 if (self->phase_ == Phase::Working) self->AnswerJson(reply.status, reply.body);
               });
             });
}

void ViewConnection::Refuse(int status, const std::string &text) { AnswerJson(status, ErrorJson(text)); }

void ViewConnection::AnswerJson(int status, const nlohmann::json &body) {
  Answer(status, JsonText(body), "application/json");
}

void ViewConnection::Answer(int status, std::string body, const std::string &type) {
  // A request whose body was never read cannot be followed by another on
  // this connection: it ends after the answer.
  const bool keep = requestDone_ && parser_ && parser_->get().keep_alive();
  auto res = std::make_shared<http::response<http::string_body>>(static_cast<http::status>(status), version_);
  res->set(http::field::content_type, type);
  res->set(http::field::cache_control, "no-store");
  res->set("X-Content-Type-Options", "nosniff");
  for (const auto &[name, value] : extraHeaders_) res->insert(name, value);
  extraHeaders_.clear();
  res->body() = std::move(body);
  res->keep_alive(keep);
  res->prepare_payload();
  phase_ = Phase::Answering;
  stream_.expires_after(kWriteTime);
  http::async_write(stream_, *res, [self = shared_from_this(), res, keep](beast::error_code ec, std::size_t) {
    if (self->phase_ == Phase::Closed) return;
    if (ec) return self->Shut();
    if (keep) return self->ReadHead();
    if (!self->requestDone_) return self->Drain();
    self->Shut();
  });
}

// After a refusal, what the client still sends is read and dropped for a
// while, so it sees the answer instead of a reset; bounded in time and bytes.
void ViewConnection::Drain() {
  phase_ = Phase::Draining;
  beast::error_code ec;
  stream_.socket().shutdown(asio::ip::tcp::socket::shutdown_send, ec);
  stream_.expires_after(kDrainTime);
  DrainSome();
}

void ViewConnection::DrainSome() {
  stream_.async_read_some(asio::buffer(scratch_), [self = shared_from_this()](beast::error_code ec, std::size_t n) {
    self->drained_ += n;
    if (ec || self->drained_ >= kDrainBytes) return self->Shut();
    self->DrainSome();
  });
}

void ViewConnection::StartEvents() {
  if (shared_->streamsByClient[client_] >= kStreamsPerClient) {
    return Refuse(429, "this address has " + std::to_string(kStreamsPerClient) +
                           " pages of this vornctl view open already (the most it serves to one address): close "
                           "one, then reload");
  }
  if (shared_->streams >= kStreams) {
    return Refuse(
        503, "vornctl view serves at most " + std::to_string(kStreams) + " open pages at once: close one, then reload");
  }
  ++shared_->streamsByClient[client_];
  ++shared_->streams;
  counted_ = true;
  phase_ = Phase::Events;
  std::weak_ptr<ViewConnection> weak = weak_from_this();
  subscriber_ = shared_->hub->Subscribe([weak, gate = gate_] {
    gate->Post([weak] {
      if (auto self = weak.lock()) self->PumpEvents();
    });
  });
  out_ = kEventsHead;
  stream_.expires_never();
  lastProgress_ = Clock::now();
  PumpEvents();
  WatchEvents();
  NoticeLeaving();
}

// A page sends nothing on its stream; reading notices at once when it goes,
// so its place among the open pages is free again.
void ViewConnection::NoticeLeaving() {
  stream_.async_read_some(asio::buffer(scratch_), [self = shared_from_this()](beast::error_code ec, std::size_t) {
    if (self->phase_ != Phase::Events) return;
    if (ec) return self->Close();
    self->NoticeLeaving();
  });
}

void ViewConnection::PumpEvents() {
  if (phase_ != Phase::Events || writing_) return;
  if (out_.empty() && !EventHub::Take(*subscriber_, out_, kEventBatchBytes)) {
    if (idleArmed_) return;
    // A comment now and then finds a page that went away.
    idleArmed_ = true;
    idle_.expires_after(kIdleComment);
    idle_.async_wait([self = shared_from_this()](beast::error_code ec) {
      self->idleArmed_ = false;
      if (ec || self->phase_ != Phase::Events) return;
      if (!self->writing_ && self->out_.empty()) self->out_ = ": idle\n\n";
      self->PumpEvents();
    });
    return;
  }
  writing_ = true;
  asio::async_write(stream_, asio::buffer(out_), [self = shared_from_this()](beast::error_code ec, std::size_t n) {
    self->writing_ = false;
    if (self->phase_ != Phase::Events) return;
    if (ec) return self->Shut();
    self->sent_ += n;
    self->out_.clear();
    self->PumpEvents();
  });
}

void ViewConnection::WatchEvents() {
  watch_.expires_after(kWatchInterval);
  watch_.async_wait([self = shared_from_this()](beast::error_code ec) {
    if (ec || self->phase_ != Phase::Events) return;
    if (!self->EventsStalled()) return self->WatchEvents();
    // Dropped at once with what the kernel still holds for it.
    beast::error_code ignored;
    self->stream_.socket().set_option(asio::socket_base::linger(true, 0), ignored);
    self->Close();
  });
}

// A page is stalled when nothing more of its data has been acknowledged for
// kStalledStream while some waits: in its queue, in a write, or in the kernel.
bool ViewConnection::EventsStalled() {
  int unacknowledged = 0;
  if (::ioctl(stream_.socket().native_handle(), SIOCOUTQ, &unacknowledged) != 0) unacknowledged = 0;
  const std::int64_t acked = static_cast<std::int64_t>(sent_) - unacknowledged;
  const bool waiting = unacknowledged > 0 || writing_ || !out_.empty() || EventHub::HasQueued(*subscriber_);
  const Clock::time_point now = Clock::now();
  if (acked > bestAcked_ || !waiting) {
    bestAcked_ = std::max(bestAcked_, acked);
    lastProgress_ = now;
    return false;
  }
  return now - lastProgress_ >= kStalledStream;
}

}  // namespace vornctl
