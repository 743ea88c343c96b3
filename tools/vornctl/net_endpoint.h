// The addresses `vornctl serve` binds: tcp://HOST:PORT, and the rule that
// nothing leaves loopback in plaintext.
#pragma once

#include <optional>
#include <string>

namespace vornctl {

struct TcpEndpoint {
  std::string host;  // as given, brackets of an IPv6 address removed
  std::string port;  // digits, or "*" for any free port
  bool ipv6 = false;
  std::string Text() const;  // tcp://HOST:PORT again
};

// nullopt with the reason when text is not tcp://HOST:PORT.
std::optional<TcpEndpoint> ParseTcpEndpoint(const std::string &text, std::string &error);

// 127.0.0.0/8, ::1 and localhost: only this machine can connect.
bool IsLoopbackHost(const std::string &host);

// The control socket's default: the data endpoint's port + 1 ("*" stays "*").
std::optional<TcpEndpoint> ControlBeside(const TcpEndpoint &data, std::string &error);

}  // namespace vornctl
