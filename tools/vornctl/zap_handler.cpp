#include "tools/vornctl/zap_handler.h"

#include <zmq.h>

namespace vornctl {

ZapDecision DecideZap(const std::vector<std::string> &frames, const std::set<std::string> &clientKeys) {
  ZapDecision d;
  const std::string requestId = frames.size() > 1 ? frames[1] : std::string();
  auto answer = [&](const char *code, const std::string &text, const std::string &user) {
    d.reply = {"1.0", requestId, code, text, user, ""};
  };
  if (frames.size() < 6 || frames[0] != "1.0") {
    d.why = "a malformed authentication request";
    answer("500", "bad ZAP request", "");
    return d;
  }
  d.address = frames[3];
  const std::string &mechanism = frames[5];
  if (mechanism != "CURVE") {
    d.why = "it did not use CURVE (" + mechanism.substr(0, 16) + ")";
    answer("400", "CURVE only", "");
    return d;
  }
  if (frames.size() != 7 || frames[6].size() != 32) {
    d.why = "its CURVE credentials are malformed";
    answer("400", "bad credentials", "");
    return d;
  }
  char z85[41] = {};
  zmq_z85_encode(z85, reinterpret_cast<const std::uint8_t *>(frames[6].data()), 32);
  d.clientKey = z85;
  if (clientKeys.count(d.clientKey) == 0) {
    d.why = "its key is not listed";
    answer("400", "key not listed", "");
    return d;
  }
  d.admit = true;
  answer("200", "OK", d.clientKey);
  return d;
}

}  // namespace vornctl
