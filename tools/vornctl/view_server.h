// The HTTP side of `vornctl view`: the page, the device list, the event
// stream and the controls. One thread serves every connection, so a client
// that is slow or silent holds no thread; view_limits.h bounds what each
// connection may cost.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/vornctl/view_panel.h"
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
  // panels and hub must outlive the server.
  ViewServer(const PanelList &panels, EventHub &hub, ViewServerOptions options);
  ~ViewServer();
  ViewServer(const ViewServer &) = delete;
  ViewServer &operator=(const ViewServer &) = delete;

  // Reads the page and binds; the port is then known.
  bool Bind(std::string &error);
  int Port() const { return port_; }
  // Serves until Stop; run it on a thread of its own.
  void Serve();
  // From now on controls are refused (the program is ending); the rest is served.
  void RefuseControls();
  // Closes every connection at once, waiting for none, and ends Serve.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int port_ = 0;
};

}  // namespace vornctl
