// Where a publisher (`vornctl serve`) is: "tcp://HOST:PORT" for its data,
// and its control socket, by default on the next port.
#pragma once

#include <string>

namespace vornctl {

constexpr int kDefaultPublisherPort = 5650;

struct PublisherAddress {
  std::string url;   // tcp://HOST:PORT, as ZeroMQ connects to it
  std::string host;  // without brackets
  int port = 0;
  std::string controlUrl;  // the control socket
  bool loopback = false;   // both hosts name only this machine's loopback addresses
};

// url: "tcp://HOST[:PORT]" (an IPv6 address in brackets); control: the
// control socket's URL, empty for the same host on PORT + 1. False with the
// reason when either is not such a URL.
bool ParsePublisherAddress(const std::string &url, const std::string &control, PublisherAddress &out,
                           std::string &error);

// Whether every address host resolves to is a loopback one (127.0.0.0/8,
// ::1); a name that does not resolve is not.
bool ResolvesToLoopback(const std::string &host);

}  // namespace vornctl
