#include "tools/vornctl/view_command.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "tools/vornctl/cli_args.h"
#include "tools/vornctl/device_description.h"
#include "tools/vornctl/driver_calls.h"
#include "tools/vornctl/stop_signal.h"
#include "tools/vornctl/view_device.h"
#include "tools/vornctl/view_events.h"
#include "tools/vornctl/view_server.h"

extern char **environ;

namespace vornctl {

namespace {

namespace fs = std::filesystem;

// The page beside the program when installed, else the build tree's.
std::string FindWebDir(const char *argv0) {
  std::error_code ec;
  const fs::path self = fs::canonical("/proc/self/exe", ec);
  const fs::path exeDir = ec ? fs::path(argv0).parent_path() : self.parent_path();
  for (const fs::path &candidate : {exeDir / "web", exeDir / ".." / "share" / "vornctl" / "web"}) {
    if (MissingPageFiles(candidate.string()).empty()) return candidate.string();
  }
#ifdef VORN_VIEW_WEB_DIR
  return VORN_VIEW_WEB_DIR;
#else
  return (exeDir / "web").string();
#endif
}

void OpenInBrowser(const std::string &url) {
  const char *argv[] = {"xdg-open", url.c_str(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, const_cast<char *const *>(argv), environ) != 0) {
    Complain("cannot open a browser (xdg-open); open " + url + " yourself");
    return;
  }
  // xdg-open hands the URL over and ends; its status says whether it could.
  std::thread([pid, url] {
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
      Complain("xdg-open could not open a browser; open " + url + " yourself");
    }
  }).detach();
}

}  // namespace

int ViewCommand(Context &context, const ViewOptions &given) {
  std::string error;
  ViewServerOptions options;
  if (!given.port.empty()) {
    const std::optional<int> p = ParseIndex(given.port);
    if (!p || *p > 65535) {
      Complain("view: --port takes a port number 0 to 65535 (0: any free port), not '" + given.port + "'");
      return kExitUsage;
    }
    options.port = *p;
  }
  if (!given.listen.empty()) {
    // Beyond loopback, whoever can reach the port could drive the devices:
    // the page must show the token printed here.
    options.host = given.listen;
    options.token = MakeToken();
  }
  options.webDir = given.web.empty() ? FindWebDir(context.argv0) : given.web;
  if (const std::string missing = MissingPageFiles(options.webDir); !missing.empty()) {
    Complain("view: the page is incomplete in " + options.webDir + " (missing " + missing +
             "); run scripts/bootstrap, then build again");
    return kExitFailure;
  }
  const std::string recordDir = given.outDir.empty() ? "." : given.outDir;
  if (!fs::is_directory(recordDir)) {
    Complain("view: --out-dir " + recordDir + " is not a folder");
    return kExitUsage;
  }

  if (!context.LoadOrComplain()) return kExitFailure;
  const vorn_host::VornLibrary &lib = context.lib;
  const std::vector<std::int32_t> found = FindAllDevices(lib);
  if (found.empty()) {
    Complain("no device found: " + GeneralMessage(lib));
    return kExitFailure;
  }
  std::vector<std::unique_ptr<ViewDevice>> devices;
  for (std::int32_t index : found) {
    if (StopRequested()) {
      Complain("stopped before the page was served");
      return kExitInterrupted;
    }
    DeviceDescription description;
    if (ReadDescription(lib, index, description, error)) {
      devices.push_back(std::make_unique<ViewDevice>(lib, index, description, "", recordDir));
    } else {
      Complain("device " + std::to_string(index) + ": " + error);
      devices.push_back(std::make_unique<ViewDevice>(lib, index, std::nullopt, error, recordDir));
    }
  }
  std::vector<ViewDevice *> list;
  for (auto &d : devices) list.push_back(d.get());

  EventHub hub(list);
  ViewServer server(list, hub, options);
  if (!server.Bind(error)) {
    Complain("view: " + error);
    return kExitFailure;
  }
  const bool bracket = options.host.find(':') != std::string::npos;
  std::string url =
      "http://" + (bracket ? "[" + options.host + "]" : options.host) + ":" + std::to_string(server.Port()) + "/";
  if (!options.token.empty()) url += "?token=" + options.token;
  // From here the page may start streams and recordings: Ctrl-C and SIGTERM
  // ask for a clean stop.
  BeginRecordingPhase();
  std::printf("%s\n", url.c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "vornctl: showing %zu device(s) at %s (Ctrl-C ends)\n", devices.size(), url.c_str());
  hub.Start();
  std::thread serving([&server] { server.Serve(); });
  if (given.start) {
    for (auto &d : devices) {
      const ControlResult r = d->Start();
      if (!r.ok()) Complain("device " + std::to_string(d->Index()) + ": " + r.error);
    }
  }
  if (given.open) OpenInBrowser(url);
  while (!StopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(100));

  // Pages first, so nothing waits on a device that is being stopped.
  hub.Stop();
  server.Stop();
  serving.join();
  std::vector<std::thread> stopping;
  for (auto &d : devices) stopping.emplace_back([&d] { d->Shutdown(); });
  for (auto &t : stopping) t.join();
  devices.clear();
  EndRecordingPhase();
  std::fprintf(stderr, "vornctl: stopped every stream\n");
  return kExitOk;
}

}  // namespace vornctl
