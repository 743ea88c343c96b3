#include "tools/vornctl/view_server.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/vornctl/view_connection.h"
#include "tools/vornctl/view_http_rules.h"
#include "tools/vornctl/view_limits.h"

namespace vornctl {

namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

struct PageFile {
  const char *name;
  const char *type;
};
constexpr PageFile kPageFiles[] = {
    {"index.html", "text/html; charset=utf-8"},   {"view.js", "text/javascript; charset=utf-8"},
    {"view.css", "text/css; charset=utf-8"},      {"uPlot.iife.min.js", "text/javascript; charset=utf-8"},
    {"uPlot.min.css", "text/css; charset=utf-8"},
};

// Out of descriptors (or another passing failure of accept): try again
// shortly instead of spinning.
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);

}  // namespace

std::string MissingPageFiles(const std::string &webDir) {
  std::string missing;
  for (const PageFile &f : kPageFiles) {
    if (!std::filesystem::is_regular_file(std::filesystem::path(webDir) / f.name)) {
      missing += (missing.empty() ? "" : ", ") + std::string(f.name);
    }
  }
  return missing;
}

struct ViewServer::Impl {
  // First, so it goes last: the connections its handlers own end with it.
  asio::io_context io{1};
  tcp::acceptor acceptor{io};
  asio::steady_timer retry{io};
  std::shared_ptr<ServerShared> shared = std::make_shared<ServerShared>();
  std::shared_ptr<ServerGate> gate = std::make_shared<ServerGate>(io);
  std::string host;
  int wantedPort = 0;
  std::atomic<bool> serving{false};

  void Accept() {
    acceptor.async_accept([this](boost::system::error_code ec, tcp::socket socket) {
      if (!acceptor.is_open()) return;
      if (ec) {
        retry.expires_after(kAcceptRetry);
        retry.async_wait([this](boost::system::error_code e) {
          if (!e) Accept();
        });
        return;
      }
      Admit(std::move(socket));
      Accept();
    });
  }

  void Admit(tcp::socket socket) {
    if (shared->connections.size() >= view_limits::kConnections) {
      // Room for whoever asks: the oldest connection that has not yet sent
      // its request goes; one that is being answered or streams is kept.
      for (ViewConnection *c : shared->connections) {
        if (c->WaitingForRequest()) {
          c->Close();
          break;
        }
      }
    }
    if (shared->connections.size() >= view_limits::kConnections + 16) {
      // Closed ones not yet gone and none to spare: this one waits for nothing.
      static const char kBusy[] =
          "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\nConnection: close\r\n"
          "Content-Length: 60\r\n\r\n{\"error\":\"vornctl view has too many connections; try again\"}";
      boost::system::error_code ignored;
      socket.non_blocking(true, ignored);
      socket.send(asio::buffer(kBusy, sizeof kBusy - 1), 0, ignored);
      socket.close(ignored);
      return;
    }
    std::make_shared<ViewConnection>(std::move(socket), shared, gate)->Start();
  }

  void CloseAll() {
    boost::system::error_code ignored;
    acceptor.close(ignored);
    retry.cancel();
    // Close() may end a connection at once; walk a copy.
    const std::list<ViewConnection *> open = shared->connections;
    for (ViewConnection *c : open) c->Close();
  }
};

ViewServer::ViewServer(const PanelList &panels, EventHub &hub, ViewServerOptions options)
    : impl_(std::make_unique<Impl>()) {
  impl_->shared->devices = &panels;
  impl_->shared->hub = &hub;
  impl_->shared->token = options.token;
  impl_->host = options.host;
  impl_->wantedPort = options.port;
  for (const PageFile &f : kPageFiles) {
    std::ifstream in(std::filesystem::path(options.webDir) / f.name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (in) impl_->shared->files[std::string("/") + f.name] = {text.str(), f.type};
  }
  const auto index = impl_->shared->files.find("/index.html");
  if (index != impl_->shared->files.end()) impl_->shared->files["/"] = index->second;
}

ViewServer::~ViewServer() { Stop(); }

bool ViewServer::Bind(std::string &error) {
  Impl &m = *impl_;
  for (const PageFile &f : kPageFiles) {
    if (!m.shared->files.count(std::string("/") + f.name)) {
      error = "the page's file " + std::string(f.name) + " is missing (run scripts/bootstrap, then build again)";
      return false;
    }
  }
  const std::string where = m.host + (m.wantedPort ? ":" + std::to_string(m.wantedPort) : "");
  boost::system::error_code ec;
  tcp::endpoint endpoint;
  const asio::ip::address address = asio::ip::make_address(m.host, ec);
  if (!ec) {
    endpoint = tcp::endpoint(address, static_cast<unsigned short>(m.wantedPort));
  } else {
    tcp::resolver resolver(m.io);
    const auto found = resolver.resolve(m.host, std::to_string(m.wantedPort), ec);
    if (ec || found.empty()) {
      error = "cannot listen on " + where + ": " + (ec ? ec.message() : "no address") + " (not of this machine?)";
      return false;
    }
    endpoint = found.begin()->endpoint();
  }
  m.acceptor.open(endpoint.protocol(), ec);
  if (!ec) m.acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) m.acceptor.bind(endpoint, ec);
  if (!ec) m.acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    boost::system::error_code ignored;
    m.acceptor.close(ignored);
    error = "cannot listen on " + where + ": " + ec.message() + " (address in use or not of this machine?)";
    return false;
  }
  port_ = m.acceptor.local_endpoint().port();
  m.shared->port = port_;
  return true;
}

void ViewServer::Serve() {
  Impl &m = *impl_;
  m.serving = true;
  if (m.acceptor.is_open()) m.Accept();
  m.io.run();
}

void ViewServer::RefuseControls() {
  if (impl_) impl_->shared->refuseControls = true;
}

void ViewServer::Stop() {
  if (!impl_) return;
  Impl &m = *impl_;
  // Devices' workers and the event ticker hand nothing more to this thread.
  m.gate->Close();
  if (m.serving) {
    asio::post(m.io, [&m] {
      m.CloseAll();
      m.io.stop();
    });
  } else {
    m.io.stop();
  }
}

}  // namespace vornctl
