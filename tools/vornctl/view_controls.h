// The controls of `vornctl view` apart from HTTP: a device named by its
// index, an action and a JSON body in; a status and a JSON answer out. Any
// transport that carries the same requests gets the same checks and refusals.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/vornctl/view_panel.h"

namespace vornctl {

struct ControlReply {
  int status = 200;  // HTTP's meaning: 200, 4xx for a wrong request, 5xx for a failure
  nlohmann::json body;
};
using ControlReplyFn = std::function<void(ControlReply)>;

// start, stop, record, record-stop, channels, period.
bool IsControlAction(std::string_view action);

// Parses and checks the request and refuses a wrong one at once, before
// anything reaches the device; else the device (or its publisher) acts. reply is called once:
// at once, or later from the device's worker thread (it must not block).
void RunControl(const std::vector<ViewPanel *> &devices, const std::string &deviceText, const std::string &action,
                const std::string &bodyText, ControlReplyFn reply);

// {"error": text}, the shape of every refusal.
nlohmann::json ErrorJson(const std::string &text);
// The JSON text of a value, with bytes that are not UTF-8 replaced.
std::string JsonText(const nlohmann::json &value);

}  // namespace vornctl
