#include "tools/vornctl/serve_controls.h"

#include <nlohmann/json.hpp>

#include "tools/vornctl/view_controls.h"
#include "tools/vornctl/view_json.h"

namespace vornctl {

namespace {

using nlohmann::json;

constexpr const char kActions[] = "start, stop, channels, period, devices, hold or release";

std::string ReplyText(const json &id, int status, const std::string &error, const json *device = nullptr) {
  json reply = {{"id", id}, {"status", status}};
  if (!error.empty()) reply["error"] = error;
  if (device) reply["device"] = *device;
  return JsonText(reply);
}

bool PrintableName(const std::string &name) {
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f) return false;
  }
  return !name.empty();
}

std::string Joined(const std::vector<std::string> &names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    out += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
  }
  return out;
}

}  // namespace

ServeControls::ServeControls(std::vector<DeviceReader *> devices) : holds_(devices.size()) {
  for (DeviceReader *d : devices) {
    panels_.push_back(std::make_unique<LocalPanel>(*d));
    devices_.push_back(panels_.back().get());
  }
}

std::vector<std::string> ServeControls::Holders(std::size_t device, Clock::time_point now) {
  std::vector<std::string> names;
  if (device >= holds_.size()) return names;
  auto &holds = holds_[device];
  for (auto it = holds.begin(); it != holds.end();) {
    if (now - it->second >= kHoldLife) {
      it = holds.erase(it);
    } else {
      names.push_back(it->first);
      ++it;
    }
  }
  return names;
}

void ServeControls::Handle(const std::string &request, std::function<void(std::string)> reply, Clock::time_point now) {
  if (request.size() > kRequestBytes) {
    return reply(ReplyText(nullptr, 413, "a control request is at most " + std::to_string(kRequestBytes) + " bytes"));
  }
  const json body = json::parse(request, nullptr, false);
  if (body.is_discarded() || !body.is_object()) {
    return reply(ReplyText(nullptr, 400,
                           "the request is not a JSON object: send {\"id\": 1, \"device\": \"SERIAL\", "
                           "\"action\": \"start\"}"));
  }
  const json id = body.contains("id") ? body["id"] : json(nullptr);
  const auto action = body.find("action");
  if (action == body.end() || !action->is_string()) {
    return reply(ReplyText(id, 400, std::string("say the action: ") + kActions));
  }
  const std::string what = action->get<std::string>();
  const auto deviceName = body.find("device");
  if (what == "devices" && deviceName == body.end()) {
    json list = json::array();
    for (const ViewPanel *d : devices_) list.push_back(DeviceJson(*d));
    return reply(JsonText({{"id", id}, {"status", 200}, {"devices", list}}));
  }
  if (deviceName == body.end() || !deviceName->is_string()) {
    return reply(ReplyText(id, 400, "name the device by its serial text: {\"device\": \"VSC1000001\"}"));
  }
  const std::string serial = deviceName->get<std::string>();
  std::size_t place = devices_.size();
  std::string serving;
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    if (devices_[i]->Identity().serial == serial) place = i;
    serving += (i ? ", " : "") + devices_[i]->Identity().serial;
  }
  if (place == devices_.size()) {
    return reply(ReplyText(
        id, 404,
        "there is no device " + serial.substr(0, 64) + " here (serving " + (serving.empty() ? "none" : serving) + ")"));
  }
  ViewPanel &device = *devices_[place];
  if (what == "devices") {
    const json d = DeviceJson(device);
    return reply(ReplyText(id, 200, "", &d));
  }
  if (what == "hold" || what == "release") {
    const auto holder = body.find("holder");
    if (holder == body.end() || !holder->is_string() || !PrintableName(holder->get<std::string>()) ||
        holder->get<std::string>().size() > kHolderLength) {
      return reply(ReplyText(
          id, 400,
          "say who records: {\"holder\": \"NAME\"} (printable, at most " + std::to_string(kHolderLength) + " bytes)"));
    }
    const std::string name = holder->get<std::string>();
    Holders(place, now);  // forgets the expired ones
    auto &holds = holds_[place];
    if (what == "release") {
      holds.erase(name);
    } else if (holds.count(name) == 0 && holds.size() >= kHoldersPerDevice) {
      return reply(ReplyText(
          id, 429,
          "device " + serial + " has " + std::to_string(kHoldersPerDevice) + " holders already; release one first"));
    } else {
      holds[name] = now;
    }
    const json d = DeviceJson(device);
    return reply(ReplyText(id, 200, "", &d));
  }
  if (what == "record" || what == "record-stop") {
    return reply(ReplyText(id, 400, "serve does not record; record its stream elsewhere with vornctl record --from"));
  }
  if (what != "start" && what != "stop" && what != "channels" && what != "period") {
    return reply(ReplyText(id, 404, "unknown action '" + what.substr(0, 32) + "'; give " + kActions));
  }
  if (what != "start") {
    const std::vector<std::string> holders = Holders(place, now);
    if (!holders.empty()) {
      // As the page refuses a change while it records.
      return reply(ReplyText(id, 409,
                             "device " + serial + " is being recorded by " + Joined(holders) +
                                 "; it cannot be stopped or changed until the recording ends"));
    }
  }
  RunControl(devices_, std::to_string(place), what, request, [id, reply](ControlReply r) {
    json out = {{"id", id}, {"status", r.status}};
    if (r.body.contains("error")) out["error"] = r.body["error"];
    if (r.body.contains("device")) out["device"] = r.body["device"];
    reply(JsonText(out));
  });
}

}  // namespace vornctl
