// The small rules `vornctl view` applies to a request before it reads a body:
// who may ask (Host, token, cookie) and in what form (media type, encoding).
#pragma once

#include <string>
#include <string_view>

namespace vornctl {

// A fresh random token (32 hex digits).
std::string MakeToken();
// Equal without telling how far by the time taken.
bool TokenMatches(std::string_view given, std::string_view expected);

// The cookie that carries the token once the page has been opened with it;
// the port is in the name because a browser's cookies are per host, not per port.
std::string TokenCookieName(int port);
std::string TokenCookie(int port, const std::string &token);
// One cookie's value from a Cookie header ("a=1; b=2"); empty when absent.
std::string CookieValue(std::string_view header, std::string_view name);

struct RequestTarget {
  std::string path;
  std::string query;
};
RequestTarget SplitTarget(std::string_view target);
// One key's value in a query string ("a=1&token=x"); empty when absent.
std::string QueryValue(std::string_view query, std::string_view key);

// Whether a Content-Type names exactly this media type (any case, with or
// without parameters): "application/json; charset=utf-8" is JSON,
// "application/jsonx" is not.
bool MediaTypeIs(std::string_view contentType, std::string_view type);
// Whether a Content-Encoding leaves the body as it is (absent or "identity").
bool IsIdentityEncoding(std::string_view contentEncoding);
// Whether a Host header names this machine's loopback on this port.
bool IsLoopbackHost(std::string_view host, int port);

}  // namespace vornctl
