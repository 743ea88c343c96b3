#include "tools/vornctl/view_server.h"

#include <httplib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "tools/vornctl/period_choices.h"
#include "tools/vornctl/view_json.h"

namespace vornctl {

namespace {

struct PageFile {
  const char *name;
  const char *type;
};
constexpr PageFile kPageFiles[] = {
    {"index.html", "text/html; charset=utf-8"},   {"view.js", "text/javascript; charset=utf-8"},
    {"view.css", "text/css; charset=utf-8"},      {"uPlot.iife.min.js", "text/javascript; charset=utf-8"},
    {"uPlot.min.css", "text/css; charset=utf-8"},
};

std::string Dump(const nlohmann::json &j) { return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace); }

void SendJson(httplib::Response &res, int status, const nlohmann::json &body) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(Dump(body), "application/json");
}

void SendError(httplib::Response &res, int status, const std::string &text) {
  SendJson(res, status, {{"error", text}});
}

bool IsLoopbackHost(const std::string &host, int port) {
  const std::string suffix = ":" + std::to_string(port);
  for (const char *name : {"127.0.0.1", "localhost", "[::1]"}) {
    if (host == name || host == name + suffix) return true;
  }
  return false;
}

}  // namespace

std::string MissingPageFiles(const std::string &webDir) {
  std::string missing;
  for (const PageFile &f : kPageFiles) {
    if (!std::filesystem::is_regular_file(std::filesystem::path(webDir) / f.name)) {
      missing += (missing.empty() ? "" : ", ") + std::string(f.name);
    }
  }
  return missing;
}

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

bool TokenMatches(const std::string &given, const std::string &expected) {
  if (given.size() != expected.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < given.size(); ++i) diff |= static_cast<unsigned char>(given[i] ^ expected[i]);
  return diff == 0;
}

struct ViewServer::Impl {
  std::vector<ViewDevice *> devices;
  EventHub &hub;
  ViewServerOptions options;
  httplib::Server server;
  std::map<std::string, std::pair<std::string, std::string>> files;  // name -> content, type

  Impl(std::vector<ViewDevice *> d, EventHub &h, ViewServerOptions o)
      : devices(std::move(d)), hub(h), options(std::move(o)) {}

  ViewDevice *Find(const std::string &text, httplib::Response &res) {
    std::size_t index = devices.size();
    if (!text.empty() && text.size() < 6 && text.find_first_not_of("0123456789") == std::string::npos) {
      index = std::stoul(text);
    }
    if (index >= devices.size()) {
      SendError(res, 404,
                "there is no device " + text + " (found " + std::to_string(devices.size()) + ", numbered from 0)");
      return nullptr;
    }
    return devices[index];
  }

  void Answer(httplib::Response &res, ViewDevice &device, const ControlResult &result) {
    if (!result.ok()) {
      SendJson(res, result.status, {{"error", result.error}, {"path", result.path}, {"device", DeviceJson(device)}});
      return;
    }
    SendJson(res, 200, {{"ok", true}, {"path", result.path}, {"device", DeviceJson(device)}});
  }

  // The request body as a JSON object; false (answered) when it is not one.
  bool Body(const httplib::Request &req, httplib::Response &res, nlohmann::json &body) {
    if (req.body.empty()) {
      body = nlohmann::json::object();
      return true;
    }
    body = nlohmann::json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
      SendError(res, 400, "the request body is not a JSON object");
      return false;
    }
    return true;
  }

  void Control(const httplib::Request &req, httplib::Response &res) {
    ViewDevice *device = Find(req.matches[1], res);
    if (!device) return;
    nlohmann::json body;
    if (!Body(req, res, body)) return;
    const std::string action = req.matches[2];
    if (action == "start") return Answer(res, *device, device->Start());
    if (action == "stop") return Answer(res, *device, device->Stop());
    if (action == "record-stop") return Answer(res, *device, device->StopRecording());
    if (action == "record") {
      const auto format = body.find("format");
      if (format == body.end() || !format->is_string()) {
        return SendError(res, 400, "say the recording's format: {\"format\": \"csv\"} or \"edf\"");
      }
      return Answer(res, *device, device->StartRecording(format->get<std::string>()));
    }
    if (action == "channels") {
      const auto list = body.find("channels");
      if (list == body.end() || !list->is_array()) {
        return SendError(res, 400, "bad channel list: give {\"channels\": [positions]}");
      }
      std::vector<std::int32_t> positions;
      for (const auto &p : *list) {
        if (!p.is_number_integer() || p.get<long long>() < 1 || p.get<long long>() > 1000000) {
          return SendError(res, 400, "bad channel list: " + Dump(*list) + " (channel positions count from 1)");
        }
        positions.push_back(p.get<std::int32_t>());
      }
      return Answer(res, *device, device->SetChannels(positions));
    }
    if (action == "period") {
      const auto us = body.find("periodUs");
      const std::vector<std::int32_t> &listed = device->Description().periodsUs;
      std::string offered;
      for (std::int32_t l : listed) offered += (offered.empty() ? "" : ", ") + FormatPeriod(NominalPeriodUs(l));
      if (us == body.end() || !us->is_number()) {
        return SendError(res, 400, "give the period in microseconds: {\"periodUs\": 2000}");
      }
      const double wanted = us->get<double>();
      for (std::size_t i = 0; i < listed.size(); ++i) {
        if (std::abs(static_cast<double>(NominalPeriodUs(listed[i])) - wanted) < 0.5 ||
            std::abs(static_cast<double>(listed[i]) - wanted) < 0.5) {
          return Answer(res, *device, device->SetPeriod(i));
        }
      }
      return SendError(res, 400,
                       "device " + std::to_string(device->Index()) + " offers no period of " + Dump(*us) +
                           " us; it offers " + (offered.empty() ? "none" : offered));
    }
    SendError(res, 404, "unknown control '" + action + "'");
  }

  void Events(const httplib::Request &, httplib::Response &res) {
    auto subscriber = hub.Subscribe();
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Accel-Buffering", "no");
    EventHub *h = &hub;
    res.set_chunked_content_provider(
        "text/event-stream",
        [h, subscriber](std::size_t, httplib::DataSink &sink) {
          if (h->Stopped()) return false;
          std::string message;
          // A comment now and then finds a page that went away.
          if (!h->Next(*subscriber, message, std::chrono::milliseconds(1000))) message = ": idle\n\n";
          if (h->Stopped()) return false;
          return sink.write(message.data(), message.size());
        },
        [h, subscriber](bool) { h->Unsubscribe(subscriber); });
  }

  bool Allowed(const httplib::Request &req, httplib::Response &res, int port) {
    if (options.token.empty()) {
      // Loopback only: a page of another site that the browser shows must not
      // reach the recorder through a name that resolves here.
      if (!IsLoopbackHost(req.get_header_value("Host"), port)) {
        SendError(res, 403, "vornctl view answers only to 127.0.0.1 or localhost");
        return false;
      }
    } else if (req.path.rfind("/api/", 0) == 0) {
      std::string given = req.get_header_value("X-Vorn-Token");
      if (given.empty()) given = req.get_param_value("token");
      if (!TokenMatches(given, options.token)) {
        SendError(res, 403, "this vornctl view needs the token it printed when it started (open the URL it printed)");
        return false;
      }
    }
    // Another site's page can send a form or text POST without asking; a JSON one it cannot.
    if (req.method == "POST" && req.get_header_value("Content-Type").rfind("application/json", 0) != 0) {
      SendError(res, 415, "controls take a JSON body (Content-Type: application/json)");
      return false;
    }
    return true;
  }
};

ViewServer::ViewServer(std::vector<ViewDevice *> devices, EventHub &hub, ViewServerOptions options)
    : impl_(std::make_unique<Impl>(std::move(devices), hub, std::move(options))) {}

ViewServer::~ViewServer() { Stop(); }

bool ViewServer::Bind(std::string &error) {
  Impl &m = *impl_;
  for (const PageFile &f : kPageFiles) {
    std::ifstream in(std::filesystem::path(m.options.webDir) / f.name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
      error = "the page's file " + std::string(f.name) + " is missing from " + m.options.webDir +
              " (run scripts/bootstrap, then build again)";
      return false;
    }
    m.files[std::string("/") + f.name] = {text.str(), f.type};
  }
  m.files["/"] = m.files["/index.html"];

  httplib::Server &s = m.server;
  // One thread per open page's event stream, and some for the controls.
  s.new_task_queue = [] { return new httplib::ThreadPool(24); };
  s.set_keep_alive_timeout(1);
  s.set_read_timeout(5);
  // A page that stops reading is cut off after this long, and its queue goes.
  s.set_write_timeout(5);
  s.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
    return impl_->Allowed(req, res, port_) ? httplib::Server::HandlerResponse::Unhandled
                                           : httplib::Server::HandlerResponse::Handled;
  });
  s.Get("/api/devices", [this](const httplib::Request &, httplib::Response &res) {
    SendJson(res, 200, {{"devices", DevicesJson(impl_->devices)}});
  });
  s.Get("/api/events", [this](const httplib::Request &req, httplib::Response &res) { impl_->Events(req, res); });
  s.Post(R"(/api/devices/([^/]+)/(start|stop|record|record-stop|channels|period))",
         [this](const httplib::Request &req, httplib::Response &res) { impl_->Control(req, res); });
  s.Get(R"(/[A-Za-z.]*)", [this](const httplib::Request &req, httplib::Response &res) {
    const auto it = impl_->files.find(req.path);
    if (it == impl_->files.end()) return SendError(res, 404, "no such page: " + req.path);
    res.set_header("Cache-Control", "no-store");
    res.set_content(it->second.first, it->second.second.c_str());
  });
  s.set_error_handler([](const httplib::Request &req, httplib::Response &res) {
    if (res.body.empty()) SendError(res, res.status, "no such request: " + req.method + " " + req.path);
  });

  if (m.options.port == 0) {
    port_ = s.bind_to_any_port(m.options.host);
  } else {
    port_ = s.bind_to_port(m.options.host, m.options.port) ? m.options.port : -1;
  }
  if (port_ <= 0) {
    error = "cannot listen on " + m.options.host + (m.options.port ? ":" + std::to_string(m.options.port) : "") +
            " (address in use or not of this machine?)";
    return false;
  }
  return true;
}

void ViewServer::Serve() { impl_->server.listen_after_bind(); }

void ViewServer::Stop() {
  if (impl_) impl_->server.stop();
}

}  // namespace vornctl
