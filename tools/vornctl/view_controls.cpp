#include "tools/vornctl/view_controls.h"

#include <cmath>

#include "tools/vornctl/period_choices.h"
#include "tools/vornctl/view_json.h"

namespace vornctl {

namespace {

constexpr std::string_view kActions[] = {"start", "stop", "record", "record-stop", "channels", "period"};

ViewPanel *Find(const std::vector<ViewPanel *> &devices, const std::string &text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return nullptr;
  const std::size_t index = std::stoul(text);
  return index < devices.size() ? devices[index] : nullptr;
}

void Refuse(const ControlReplyFn &reply, int status, const std::string &text) { reply({status, ErrorJson(text)}); }

// The device's answer once it has acted; its panel comes along so the page
// shows the outcome without waiting for the next state event.
ControlDone Answer(ViewPanel &device, ControlReplyFn reply) {
  return [&device, reply = std::move(reply)](const ControlResult &result) {
    if (!result.ok()) {
      reply({result.status, {{"error", result.error}, {"path", result.path}, {"device", DeviceJson(device)}}});
    } else {
      reply({200, {{"ok", true}, {"path", result.path}, {"device", DeviceJson(device)}}});
    }
  };
}

void SetChannels(ViewPanel &device, const nlohmann::json &body, ControlReplyFn reply) {
  const auto list = body.find("channels");
  if (list == body.end() || !list->is_array()) {
    return Refuse(reply, 400, "bad channel list: give {\"channels\": [positions]}");
  }
  std::vector<std::int32_t> positions;
  for (const auto &p : *list) {
    if (!p.is_number_integer() || p.get<long long>() < 1 || p.get<long long>() > 1000000) {
      return Refuse(reply, 400, "bad channel list: " + JsonText(*list) + " (channel positions count from 1)");
    }
    positions.push_back(p.get<std::int32_t>());
  }
  device.SetChannels(positions, Answer(device, std::move(reply)));
}

void SetPeriod(ViewPanel &device, const nlohmann::json &body, ControlReplyFn reply) {
  const auto us = body.find("periodUs");
  if (us == body.end() || !us->is_number()) {
    return Refuse(reply, 400, "give the period in microseconds: {\"periodUs\": 2000}");
  }
  const std::vector<std::int32_t> listed = device.Description().periodsUs;
  const double wanted = us->get<double>();
  for (std::size_t i = 0; i < listed.size(); ++i) {
    if (std::abs(static_cast<double>(NominalPeriodUs(listed[i])) - wanted) < 0.5 ||
        std::abs(static_cast<double>(listed[i]) - wanted) < 0.5) {
      return device.SetPeriod(i, Answer(device, std::move(reply)));
    }
  }
  std::string offered;
  for (std::int32_t l : listed) offered += (offered.empty() ? "" : ", ") + FormatPeriod(NominalPeriodUs(l));
  Refuse(reply, 400,
         "device " + std::to_string(device.Index()) + " offers no period of " + JsonText(*us) + " us; it offers " +
             (offered.empty() ? "none" : offered));
}

}  // namespace

nlohmann::json ErrorJson(const std::string &text) { return {{"error", text}}; }

std::string JsonText(const nlohmann::json &value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool IsControlAction(std::string_view action) {
  for (std::string_view a : kActions) {
    if (a == action) return true;
  }
  return false;
}

void RunControl(const std::vector<ViewPanel *> &devices, const std::string &deviceText, const std::string &action,
                const std::string &bodyText, ControlReplyFn reply) {
  ViewPanel *device = Find(devices, deviceText);
  if (!device) {
    return Refuse(reply, 404,
                  "there is no device " + deviceText.substr(0, 32) + " (found " + std::to_string(devices.size()) +
                      ", numbered from 0)");
  }
  nlohmann::json body = nlohmann::json::object();
  if (!bodyText.empty()) {
    body = nlohmann::json::parse(bodyText, nullptr, false);
    if (body.is_discarded() || !body.is_object()) return Refuse(reply, 400, "the request body is not a JSON object");
  }
  if (action == "start") return device->Start(Answer(*device, std::move(reply)));
  if (action == "stop") return device->Stop(Answer(*device, std::move(reply)));
  if (action == "record-stop") return device->StopRecording(Answer(*device, std::move(reply)));
  if (action == "record") {
    const auto format = body.find("format");
    if (format == body.end() || !format->is_string()) {
      return Refuse(reply, 400, "say the recording's format: {\"format\": \"csv\"} or \"edf\"");
    }
    return device->StartRecording(format->get<std::string>(), Answer(*device, std::move(reply)));
  }
  if (action == "channels") return SetChannels(*device, body, std::move(reply));
  if (action == "period") return SetPeriod(*device, body, std::move(reply));
  Refuse(reply, 404, "unknown control '" + action.substr(0, 32) + "'");
}

}  // namespace vornctl
