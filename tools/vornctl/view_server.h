// The HTTP side of `vornctl view`: the page, the device list, the event
// stream and the controls.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/vornctl/view_device.h"
#include "tools/vornctl/view_events.h"

namespace vornctl {

struct ViewServerOptions {
  std::string host = "127.0.0.1";
  int port = 0;        // 0: any free port
  std::string token;   // required of every /api request when not empty
  std::string webDir;  // the page and its plotting library
};

// The files the page needs; empty when all are there, else what is missing.
std::string MissingPageFiles(const std::string &webDir);

class ViewServer {
 public:
  ViewServer(std::vector<ViewDevice *> devices, EventHub &hub, ViewServerOptions options);
  ~ViewServer();
  ViewServer(const ViewServer &) = delete;
  ViewServer &operator=(const ViewServer &) = delete;

  // Reads the page and binds; the port is then known.
  bool Bind(std::string &error);
  int Port() const { return port_; }
  // Serves until Stop; run it on a thread of its own.
  void Serve();
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int port_ = 0;
};

// A fresh random token (hex).
std::string MakeToken();
// Equal without telling how far by the time taken.
bool TokenMatches(const std::string &given, const std::string &expected);

}  // namespace vornctl
