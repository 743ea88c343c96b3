#include "tools/vornctl/json_text.h"

#include <cmath>
#include <cstdio>

namespace vornctl {

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonNumber(std::optional<double> value) {
  if (!value || !std::isfinite(*value)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", *value);
  return text;
}

}  // namespace vornctl
