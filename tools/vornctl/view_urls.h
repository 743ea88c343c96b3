// The addresses `vornctl view` can be opened at, as URLs to print.
#pragma once

#include <string>
#include <vector>

namespace vornctl {

struct InterfaceAddress {
  std::string address;  // numeric, IPv6 without brackets
  bool loopback = false;
  bool ipv6 = false;
};

// The machine's interface addresses (up, not link-local IPv6).
std::vector<InterfaceAddress> InterfaceAddresses();

// One URL per address a browser can use for a server listening on listen:
// a wildcard (0.0.0.0, ::) stands for every interface's address of its
// family (:: also takes IPv4) plus the host name; anything else for itself.
// Loopback comes first. suffix follows the port (e.g. "/?token=...").
std::vector<std::string> ViewUrls(const std::string &listen, int port, const std::string &suffix,
                                  const std::vector<InterfaceAddress> &interfaces, const std::string &hostName);

std::string HostName();

}  // namespace vornctl
