#include "tools/vornctl/publisher_address.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "tools/vornctl/cli_args.h"

namespace vornctl {

namespace {

constexpr char kScheme[] = "tcp://";

bool SplitHostPort(const std::string &text, std::string &host, int &port, std::string &error) {
  const std::string shown = text.substr(0, 200);
  if (text.rfind(kScheme, 0) != 0) {
    const std::size_t scheme = text.find("://");
    error = scheme == std::string::npos
                ? "'" + shown +
                      "' is not a publisher's address: write it tcp://HOST:" + std::to_string(kDefaultPublisherPort)
                : "'" + shown + "': a publisher is reached over tcp:// only";
    return false;
  }
  std::string rest = text.substr(std::strlen(kScheme));
  std::string portText;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string::npos) {
      error = "'" + shown + "': an IPv6 address needs its closing ]";
      return false;
    }
    host = rest.substr(1, close - 1);
    const std::string after = rest.substr(close + 1);
    if (!after.empty() && after.front() != ':') {
      error = "'" + shown + "': after the address comes :PORT";
      return false;
    }
    portText = after.empty() ? "" : after.substr(1);
    if (after == ":") portText = "-";
  } else {
    const std::size_t colon = rest.rfind(':');
    host = rest.substr(0, colon);
    if (colon != std::string::npos) portText = rest.substr(colon + 1);
    if (colon != std::string::npos && portText.empty()) portText = "-";
  }
  if (host.empty() || host.find_first_of("/?#@ *") != std::string::npos) {
    error = "'" + shown + "': no host name or address (tcp://HOST:" + std::to_string(kDefaultPublisherPort) + ")";
    return false;
  }
  port = kDefaultPublisherPort;
  if (portText == "-") {
    error = "'" + shown + "': nothing after ':' (the port, 1 to 65535)";
    return false;
  }
  if (!portText.empty()) {
    const std::optional<int> p = ParseIndex(portText);
    if (!p || *p < 1 || *p > 65535) {
      error = "'" + shown + "': the port is a number 1 to 65535, not '" + portText.substr(0, 20) + "'";
      return false;
    }
    port = *p;
  }
  return true;
}

std::string Url(const std::string &host, int port) {
  const bool v6 = host.find(':') != std::string::npos;
  return std::string(kScheme) + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

bool ResolvesToLoopback(const std::string &host) {
  if (host == "localhost") return true;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo *found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
  bool loopback = true;
  for (addrinfo *a = found; a; a = a->ai_next) {
    if (a->ai_family == AF_INET) {
      const auto *in = reinterpret_cast<const sockaddr_in *>(a->ai_addr);
      loopback = loopback && (ntohl(in->sin_addr.s_addr) >> 24) == 127;
    } else if (a->ai_family == AF_INET6) {
      const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(a->ai_addr);
      loopback = loopback && IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr);
    } else {
      loopback = false;
    }
  }
  freeaddrinfo(found);
  return loopback;
}

bool ParsePublisherAddress(const std::string &url, const std::string &control, PublisherAddress &out,
                           std::string &error) {
  PublisherAddress a;
  if (!SplitHostPort(url, a.host, a.port, error)) return false;
  a.url = Url(a.host, a.port);
  bool controlLoopback = true;
  if (control.empty()) {
    if (a.port == 65535) {
      error = "'" + url.substr(0, 200) + "': the control socket would be on port 65536; give --control tcp://HOST:PORT";
      return false;
    }
    a.controlUrl = Url(a.host, a.port + 1);
  } else {
    std::string controlHost;
    int controlPort = 0;
    if (!SplitHostPort(control, controlHost, controlPort, error)) {
      error = "--control " + error;
      return false;
    }
    a.controlUrl = Url(controlHost, controlPort);
    controlLoopback = ResolvesToLoopback(controlHost);
  }
  a.loopback = ResolvesToLoopback(a.host) && controlLoopback;
  out = std::move(a);
  return true;
}

}  // namespace vornctl
