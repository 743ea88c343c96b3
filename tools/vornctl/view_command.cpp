#include "tools/vornctl/view_command.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "tools/vornctl/cli_args.h"
#include "tools/vornctl/device_description.h"
#include "tools/vornctl/driver_calls.h"
#include "tools/vornctl/stop_signal.h"
#include "tools/vornctl/device_reader.h"
#include "tools/vornctl/view_events.h"
#include "tools/vornctl/view_http_rules.h"
#include "tools/vornctl/view_open.h"
#include "tools/vornctl/view_server.h"
#include "tools/vornctl/view_urls.h"

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

bool IsLoopbackAddress(const std::string &host) {
  return host == "127.0.0.1" || host == "::1" || host == "localhost" || host.rfind("127.", 0) == 0;
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
  if (!given.listen.empty()) options.host = given.listen;
  // Beyond loopback, whoever can reach the port could drive the devices; on
  // loopback, any user of this machine could, unless --token is asked for.
  if (!given.listen.empty() || given.token) options.token = MakeToken();
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
  std::vector<std::unique_ptr<DeviceReader>> devices;
  for (std::int32_t index : found) {
    if (StopRequested()) {
      Complain("stopped before the page was served");
      return kExitInterrupted;
    }
    DeviceDescription description;
    if (ReadDescription(lib, index, description, error)) {
      devices.push_back(std::make_unique<DeviceReader>(lib, index, description, "", recordDir));
    } else {
      Complain("device " + std::to_string(index) + ": " + error);
      devices.push_back(std::make_unique<DeviceReader>(lib, index, std::nullopt, error, recordDir));
    }
  }
  std::vector<DeviceReader *> list;
  for (auto &d : devices) list.push_back(d.get());

  // Declared before the server: its connections leave the hub when it goes.
  EventHub hub(list);
  ViewServer server(list, hub, options);
  if (!server.Bind(error)) {
    Complain("view: " + error);
    return kExitFailure;
  }
  const std::string suffix = options.token.empty() ? "/" : "/?token=" + options.token;
  const std::vector<std::string> urls = ViewUrls(options.host, server.Port(), suffix, InterfaceAddresses(), HostName());
  // From here the page may start streams and recordings: Ctrl-C and SIGTERM
  // ask for a clean stop, and no later one cuts the files short.
  BeginRecordingPhase();
  SetLaterStopsWaitForFiles(true);
  for (const std::string &url : urls) std::printf("%s\n", url.c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "vornctl: showing %zu device(s) at %s%s (Ctrl-C ends)\n", devices.size(), urls.front().c_str(),
               urls.size() > 1 ? " and the other addresses above" : "");
  if (!options.token.empty()) {
    std::fprintf(stderr,
                 "vornctl: the token in the URL lets whoever has it watch, start, stop and record these devices; "
                 "it is new at every start\n");
  } else if (IsLoopbackAddress(options.host)) {
    std::fprintf(stderr, "vornctl: any user of this machine can open the page; --token asks for a token\n");
  }
  hub.Start();
  std::thread serving([&server] { server.Serve(); });
  if (given.start) {
    for (auto &d : devices) {
      const ControlResult r = AwaitControl([&d](ControlDone done) { d->Start(std::move(done)); });
      if (!r.ok()) Complain("device " + std::to_string(d->Index()) + ": " + r.error);
    }
  }
  PageOpener opener;
  if (given.open) opener.Open(urls.front(), !options.token.empty());
  while (!StopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(100));

  // Files first: every device is stopped and its recording finished while
  // the pages still see it happen; then the connections are dropped, slow
  // ones included, without waiting for any.
  server.RefuseControls();
  std::vector<std::thread> stopping;
  for (auto &d : devices) stopping.emplace_back([&d] { d->Shutdown(); });
  for (auto &t : stopping) t.join();
  hub.Stop();
  server.Stop();
  serving.join();
  devices.clear();
  // The recording phase is not ended: a Ctrl-C pressed late, while the
  // above finished, asked for this same ending and gets its status.
  std::fprintf(stderr, "vornctl: stopped every stream\n");
  return kExitOk;
}

}  // namespace vornctl
