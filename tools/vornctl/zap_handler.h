// The ZAP handler's decision (ZeroMQ's authentication protocol, RFC 27): a
// CURVE client is admitted when its public key is listed, anything else is
// refused. The publisher's thread does the socket work and the logging.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace vornctl {

// inproc endpoint where libzmq asks every server socket's ZAP handler.
constexpr const char kZapEndpoint[] = "inproc://zeromq.zap.01";

struct ZapDecision {
  bool admit = false;
  std::string clientKey;           // Z85 of the client's public key, when it gave one
  std::string address;             // the peer's address, for the log
  std::string why;                 // for a refusal
  std::vector<std::string> reply;  // the frames to send back
};

// frames: the request as received. A request that is not ZAP 1.0 gets the
// error reply the protocol asks for.
ZapDecision DecideZap(const std::vector<std::string> &frames, const std::set<std::string> &clientKeys);

}  // namespace vornctl
