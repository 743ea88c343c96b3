#include "tools/vornctl/view_http_rules.h"

#include <cctype>
#include <random>

namespace vornctl {

namespace {

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The value of key in "k1=v1<sep>k2=v2"; empty when absent.
std::string PairValue(std::string_view text, char separator, std::string_view key) {
  while (!text.empty()) {
    const auto end = text.find(separator);
    const std::string_view pair = Trim(text.substr(0, end));
    const auto equals = pair.find('=');
    if (equals != std::string_view::npos && pair.substr(0, equals) == key) {
      return std::string(pair.substr(equals + 1));
    }
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return {};
}

}  // namespace

std::string MakeToken() {
  std::random_device random;
  static const char kHex[] = "0123456789abcdef";
  std::string token;
  for (int i = 0; i < 8; ++i) {
    const unsigned v = random();
    for (int k = 0; k < 4; ++k) token += kHex[(v >> (4 * k)) & 15];
  }
  return token;
}

bool TokenMatches(std::string_view given, std::string_view expected) {
  if (given.size() != expected.size() || expected.empty()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < given.size(); ++i) diff |= static_cast<unsigned char>(given[i] ^ expected[i]);
  return diff == 0;
}

std::string TokenCookieName(int port) { return "vorn_token_" + std::to_string(port); }

std::string TokenCookie(int port, const std::string &token) {
  // Scripts of the page cannot read it, and no other site's page sends it.
  return TokenCookieName(port) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict";
}

std::string CookieValue(std::string_view header, std::string_view name) { return PairValue(header, ';', name); }

RequestTarget SplitTarget(std::string_view target) {
  const auto mark = target.find('?');
  if (mark == std::string_view::npos) return {std::string(target), {}};
  return {std::string(target.substr(0, mark)), std::string(target.substr(mark + 1))};
}

std::string QueryValue(std::string_view query, std::string_view key) { return PairValue(query, '&', key); }

bool MediaTypeIs(std::string_view contentType, std::string_view type) {
  return EqualNoCase(Trim(contentType.substr(0, contentType.find(';'))), type);
}

bool IsIdentityEncoding(std::string_view contentEncoding) {
  const std::string_view e = Trim(contentEncoding);
  return e.empty() || EqualNoCase(e, "identity");
}

bool IsLoopbackHost(std::string_view host, int port) {
  const std::string suffix = ":" + std::to_string(port);
  for (std::string_view name : {"127.0.0.1", "localhost", "[::1]"}) {
    if (EqualNoCase(host, name) || EqualNoCase(host, std::string(name) + suffix)) return true;
  }
  return false;
}

}  // namespace vornctl
