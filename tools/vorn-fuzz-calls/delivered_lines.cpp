#include "tools/vorn-fuzz-calls/delivered_lines.h"

namespace vorn_fuzz {

void Reset(SessionModel &s) {
  s.partial.clear();
  s.afterReset = true;
}

void Take(SessionModel &s, const char *bytes, std::size_t n, std::size_t call) {
  for (std::size_t i = 0; i < n; ++i) {
    if (bytes[i] != '\n') {
      s.partial += bytes[i];
      continue;
    }
    s.lines.push_back({s.partial, call, s.afterReset});
    s.afterReset = false;
    s.partial.clear();
  }
}

bool CheckLines(const SessionModel &s, const std::vector<std::string> &sent, const vorn_soak::DeviceDescription &device,
                Finding &f) {
  // Lines are decoded in the order sent, under the channels enabled at that moment:
  // both positions only move forward.
  std::size_t j = s.sentBase, k = 0;
  for (const Delivered &d : s.lines) {
    if (d.line.rfind("@ ", 0) != 0) {
      // A flush may cut a line; the first line after it may be its tail.
      if (d.firstAfterReset) continue;
      f = {"line", d.call, "delivered a line that is not a host line: \"" + d.line.substr(0, 120) + "\""};
      return false;
    }
    const std::string want = d.line + "\n";
    bool found = false;
    for (std::size_t jj = j; jj < sent.size() && !found; ++jj) {
      for (std::size_t kk = k; kk < s.history.size(); ++kk) {
        const auto e = vorn_soak::ExpectedHostLine(sent[jj], device, s.history[kk]);
        if (e && *e == want) {
          j = jj + 1;
          k = kk;
          found = true;
          break;
        }
      }
    }
    if (!found) {
      f = {"line", d.call,
           "delivered line matches no data line the device sent after the last one matched (corrupted, reordered "
           "or repeated; " +
               std::to_string(j) + " of " + std::to_string(sent.size()) + " sent lines passed): \"" +
               d.line.substr(0, 200) + "\""};
      return false;
    }
  }
  return true;
}

}  // namespace vorn_fuzz
