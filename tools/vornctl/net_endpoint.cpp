#include "tools/vornctl/net_endpoint.h"

#include <arpa/inet.h>

namespace vornctl {

namespace {

constexpr const char kScheme[] = "tcp://";

bool AllDigits(const std::string &s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos; }

}  // namespace

std::string TcpEndpoint::Text() const { return kScheme + (ipv6 ? "[" + host + "]" : host) + ":" + port; }

std::optional<TcpEndpoint> ParseTcpEndpoint(const std::string &text, std::string &error) {
  const std::string scheme = kScheme;
  const std::string shape = "give tcp://HOST:PORT (such as tcp://127.0.0.1:5650), not '" + text.substr(0, 80) + "'";
  if (text.rfind(scheme, 0) != 0) {
    error = shape;
    return std::nullopt;
  }
  const std::string rest = text.substr(scheme.size());
  const std::size_t colon = rest.rfind(':');
  if (colon == std::string::npos || colon == 0) {
    error = shape;
    return std::nullopt;
  }
  TcpEndpoint e;
  e.host = rest.substr(0, colon);
  e.port = rest.substr(colon + 1);
  if (e.host.size() > 2 && e.host.front() == '[' && e.host.back() == ']') {
    e.host = e.host.substr(1, e.host.size() - 2);
    e.ipv6 = true;
  } else if (e.host.find(':') != std::string::npos) {
    error = "an IPv6 address goes in brackets: tcp://[::1]:5650";
    return std::nullopt;
  }
  if (e.port != "*" &&
      (!AllDigits(e.port) || e.port.size() > 5 || std::stoi(e.port) < 1 || std::stoi(e.port) > 65535)) {
    error = "the port of " + text.substr(0, 80) + " is not 1 to 65535 (or * for any free port)";
    return std::nullopt;
  }
  if (e.host.empty() || e.host.size() > 255) {
    error = shape;
    return std::nullopt;
  }
  return e;
}

bool IsLoopbackHost(const std::string &host) {
  if (host == "localhost") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
  // A name or an interface ("eth0", "*") may reach other machines.
  return false;
}

std::optional<TcpEndpoint> ControlBeside(const TcpEndpoint &data, std::string &error) {
  TcpEndpoint control = data;
  if (data.port == "*") return control;
  const int port = std::stoi(data.port);
  if (port >= 65535) {
    error = "the data port is 65535, so the control port cannot be the next one: give --control";
    return std::nullopt;
  }
  control.port = std::to_string(port + 1);
  return control;
}

}  // namespace vornctl
