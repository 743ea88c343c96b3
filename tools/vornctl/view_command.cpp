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
#include "tools/vornctl/usage_text.h"
#include "tools/vornctl/device_reader.h"
#include "tools/vornctl/view_events.h"
#include "tools/vornctl/view_http_rules.h"
#include "tools/vornctl/view_open.h"
#include "tools/vornctl/view_panel.h"
#include "tools/vornctl/view_server.h"
#include "tools/vornctl/view_urls.h"
#if VORN_VIEW_REMOTE
#include "tools/vornctl/record_from.h"
#include "tools/vornctl/view_remote.h"
#endif

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

  if (given.from.empty() && (!given.remote.serverKey.empty() || !given.remote.clientKey.empty())) {
    Complain("view: --server-key and --client-key go with --from URL (a publisher's devices)");
    return kExitUsage;
  }
#if VORN_VIEW_REMOTE
  std::vector<SubscriptionOptions> publishers;
  if (!given.from.empty()) {
    CurveClientKeys keys;
    if (!LoadClientKeys(given.remote.serverKey, given.remote.clientKey, keys, error)) {
      Complain("view: " + error);
      return kExitUsage;
    }
    for (const std::string &url : given.from) {
      SubscriptionOptions link;
      if (!ParsePublisherAddress(url, "", link.address, error)) {
        Complain("view: --from " + error);
        return kExitUsage;
      }
      if (!link.address.loopback && !keys.Enabled()) {
        Complain("view: " + link.address.url +
                 " is not on this machine: beyond loopback a publisher speaks only with keys; give --server-key FILE "
                 "(its public key) and --client-key FILE (your key pair from 'vornctl keygen NAME')");
        return kExitUsage;
      }
      for (const SubscriptionOptions &other : publishers) {
        if (other.address.url == link.address.url) {
          Complain("view: --from " + link.address.url + " is given twice");
          return kExitUsage;
        }
      }
      link.keys = keys;
      link.holder = LeaseHolderName("vornctl view");
      publishers.push_back(std::move(link));
    }
  }
  const bool remote = !publishers.empty();
#else
  if (!given.from.empty()) {
    Complain(WithoutNetworkText("view --from"));
    return kExitFailure;
  }
  const bool remote = false;
#endif

  // With publishers to show, a machine without devices (or without the
  // driver) still has a page.
  std::vector<std::int32_t> found;
  if (!context.Load(error)) {
    Complain(remote ? "note: " + error + "; showing the publishers' devices only" : error);
    if (!remote) return kExitFailure;
  } else {
    found = FindAllDevices(context.lib);
    if (found.empty() && !remote) {
      Complain("no device found: " + GeneralMessage(context.lib));
      return kExitFailure;
    }
    if (found.empty()) Complain("note: no device found on this machine; showing the publishers' devices");
  }
  const vorn_host::VornLibrary &lib = context.lib;
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
  PanelList panels;
  std::vector<std::unique_ptr<LocalPanel>> locals;
  for (auto &d : devices) {
    locals.push_back(std::make_unique<LocalPanel>(*d));
    panels.Add([&locals](std::int32_t) { return locals.back().get(); });
  }
#if VORN_VIEW_REMOTE
  // Declared before the hub and the server, which show their panels.
  std::vector<std::unique_ptr<RemoteSource>> sources;
#endif

  // Declared before the server: its connections leave the hub when it goes.
  EventHub hub(panels);
  ViewServer server(panels, hub, options);
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
#if VORN_VIEW_REMOTE
  for (const SubscriptionOptions &link : publishers) {
    sources.push_back(std::make_unique<RemoteSource>(link, panels, recordDir));
    if (!sources.back()->Open(error)) {
      Complain("view: " + error);
      return kExitFailure;
    }
  }
#endif
  std::fprintf(stderr, "vornctl: showing %zu device(s)%s at %s%s (Ctrl-C ends)\n", devices.size(),
               remote ? " of this machine and those of the publishers" : "", urls.front().c_str(),
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
  for (ViewPanel *p : panels.Snapshot()) stopping.emplace_back([p] { p->Shutdown(); });
  for (auto &t : stopping) t.join();
#if VORN_VIEW_REMOTE
  for (auto &s : sources) s->Shutdown();
#endif
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
