#include "tools/vornctl/view_urls.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>

namespace vornctl {

namespace {

std::string Url(const std::string &host, bool ipv6, int port, const std::string &suffix) {
  return "http://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + suffix;
}

}  // namespace

std::vector<InterfaceAddress> InterfaceAddresses() {
  std::vector<InterfaceAddress> found;
  ifaddrs *list = nullptr;
  if (getifaddrs(&list) != 0) return found;
  for (const ifaddrs *a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || !(a->ifa_flags & IFF_UP)) continue;
    char text[INET6_ADDRSTRLEN] = {};
    InterfaceAddress entry;
    entry.loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
    if (a->ifa_addr->sa_family == AF_INET) {
      const auto *in = reinterpret_cast<const sockaddr_in *>(a->ifa_addr);
      if (!inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) continue;
    } else if (a->ifa_addr->sa_family == AF_INET6) {
      const auto *in = reinterpret_cast<const sockaddr_in6 *>(a->ifa_addr);
      // A link-local address needs its interface named in the URL, which browsers do not take.
      if (IN6_IS_ADDR_LINKLOCAL(&in->sin6_addr)) continue;
      if (!inet_ntop(AF_INET6, &in->sin6_addr, text, sizeof text)) continue;
      entry.ipv6 = true;
    } else {
      continue;
    }
    entry.address = text;
    const bool seen =
        std::any_of(found.begin(), found.end(), [&](const InterfaceAddress &f) { return f.address == entry.address; });
    if (!seen) found.push_back(entry);
  }
  freeifaddrs(list);
  return found;
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::vector<std::string> ViewUrls(const std::string &listen, int port, const std::string &suffix,
                                  const std::vector<InterfaceAddress> &interfaces, const std::string &hostName) {
  const bool any4 = listen == "0.0.0.0";
  const bool any6 = listen == "::" || listen == "[::]";
  if (!any4 && !any6) {
    const bool ipv6 = listen.find(':') != std::string::npos && listen.front() != '[';
    return {Url(listen, ipv6, port, suffix)};
  }
  std::vector<InterfaceAddress> usable;
  for (const InterfaceAddress &a : interfaces) {
    if (!a.ipv6 || any6) usable.push_back(a);
  }
  std::stable_partition(usable.begin(), usable.end(), [](const InterfaceAddress &a) { return a.loopback; });
  std::vector<std::string> urls;
  for (const InterfaceAddress &a : usable) urls.push_back(Url(a.address, a.ipv6, port, suffix));
  if (urls.empty()) urls.push_back(Url(any6 ? "::1" : "127.0.0.1", any6, port, suffix));
  if (!hostName.empty()) urls.push_back(Url(hostName, false, port, suffix));
  return urls;
}

}  // namespace vornctl
