#include "tools/vornctl/serve_command.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "tools/vornctl/channel_selection.h"
#include "tools/vornctl/cli_args.h"
#include "tools/vornctl/device_lookup.h"
#include "tools/vornctl/driver_calls.h"
#include "tools/vornctl/period_choices.h"
#include "tools/vornctl/publisher.h"
#include "tools/vornctl/stop_signal.h"

namespace vornctl {

namespace {

// The endpoints and keys, all checked before any device is touched.
bool PlanNetwork(const ServeOptions &given, PublisherOptions &out, std::string &error) {
  const std::optional<TcpEndpoint> data = ParseTcpEndpoint(given.bind, error);
  if (!data) {
    error = "--bind: " + error;
    return false;
  }
  std::optional<TcpEndpoint> control =
      given.control.empty() ? ControlBeside(*data, error) : ParseTcpEndpoint(given.control, error);
  if (!control) {
    if (!given.control.empty()) error = "--control: " + error;
    return false;
  }
  if (control->Text() == data->Text() && data->port != "*") {
    error = "--control must differ from --bind (" + data->Text() + ")";
    return false;
  }
  out.data = *data;
  out.control = *control;
  if (given.curveSecret.empty() != given.curveClients.empty()) {
    error = given.curveSecret.empty()
                ? "--curve-clients needs --curve-secret FILE, the server's own key pair (vornctl keygen NAME)"
                : "--curve-secret needs --curve-clients FILE, the public keys of the clients to admit";
    return false;
  }
  if (given.curveSecret.empty()) {
    for (const TcpEndpoint &e : {*data, *control}) {
      if (!IsLoopbackHost(e.host)) {
        error = e.Text() +
                " is not a loopback address, and without keys other machines would read the stream "
                "and drive the devices in plaintext: give --curve-secret SERVER.key and --curve-clients "
                "FILE (keys from vornctl keygen), or bind to 127.0.0.1";
        return false;
      }
    }
    return true;
  }
  CurveKeys keys;
  if (!ReadKeyFile(given.curveSecret, keys, error)) {
    error = "--curve-secret: " + error;
    return false;
  }
  if (keys.secretKey.empty()) {
    error = "--curve-secret: " + given.curveSecret + " holds no secret key; give the server's NAME.key, not NAME.pub";
    return false;
  }
  struct stat st {};
  if (::stat(given.curveSecret.c_str(), &st) == 0 && (st.st_mode & 0077) != 0) {
    Complain("serve: warning: " + given.curveSecret + " may be read by other users; chmod 600 it");
  }
  out.serverKeys = keys;
  if (!ReadClientKeys(given.curveClients, out.clientKeys, error)) {
    error = "--curve-clients: " + error;
    return false;
  }
  return true;
}

}  // namespace

int ServeCommand(Context &context, const ServeOptions &given) {
  if (given.devices.empty() == !given.all) {
    Complain(given.all ? "serve: --all serves every device; name no device beside it"
                       : "usage: vornctl serve SERIAL... | --all [--bind tcp://127.0.0.1:5650] [--control URL] "
                         "[--curve-secret FILE --curve-clients FILE]");
    return kExitUsage;
  }
  std::string error;
  PublisherOptions network;
  if (!PlanNetwork(given, network, error)) {
    Complain("serve: " + error);
    return kExitUsage;
  }
  if (!given.sendHighWater.empty()) {
    const std::optional<int> hwm = ParseIndex(given.sendHighWater);
    if (!hwm || *hwm < 1) {
      Complain("serve: --send-hwm takes a number of messages (1 or more), not '" + given.sendHighWater + "'");
      return kExitUsage;
    }
    network.sendHighWater = *hwm;
  }

  if (!context.LoadOrComplain()) return kExitFailure;
  const vorn_host::VornLibrary &lib = context.lib;
  std::vector<std::int32_t> chosen;
  if (const int code = ChooseDevices(lib, given.all, given.devices, chosen, error)) {
    Complain((code == kExitUsage ? "serve: " : "") + error);
    return code;
  }
  std::vector<std::unique_ptr<DeviceReader>> readers;
  std::vector<std::size_t> periodChoice;
  std::vector<std::vector<std::int32_t>> channels;
  for (std::int32_t index : chosen) {
    if (StopRequested()) {
      Complain("stopped before serving");
      return kExitInterrupted;
    }
    DeviceDescription description;
    if (!ReadDescription(lib, index, description, error)) {
      // Named devices must all come up; with --all one that fails is served as failed.
      Complain("device " + std::to_string(index) + ": " + error);
      if (!given.all) return kExitFailure;
      readers.push_back(std::make_unique<DeviceReader>(lib, index, std::nullopt, error, "."));
      continue;
    }
    const std::string name = "device " + std::to_string(index) + " (" + description.identity.serial + ")";
    const auto positions = SelectChannels(given.channels, description.channels, error);
    if (!positions) {
      Complain("serve: " + name + ": " + error);
      return kExitUsage;
    }
    const auto choice = MatchPeriod(given.period, description.periodsUs);
    if (!choice) {
      Complain("serve: " + name + ": the device offers no period '" + given.period + "'");
      return description.periodsUs.empty() ? kExitFailure : kExitUsage;
    }
    channels.push_back(*positions);
    periodChoice.push_back(*choice);
    readers.push_back(std::make_unique<DeviceReader>(lib, index, description, "", "."));
  }
  for (std::size_t i = 0; i < readers.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (readers[i]->Identity().serial == readers[j]->Identity().serial && !readers[i]->Identity().serial.empty()) {
        Complain("serve: devices " + std::to_string(readers[j]->Index()) + " and " +
                 std::to_string(readers[i]->Index()) + " share the serial text " + readers[i]->Identity().serial +
                 ", which names a device on the network; serve them one at a time");
        return kExitFailure;
      }
    }
  }
  std::vector<DeviceReader *> list;
  for (auto &r : readers) list.push_back(r.get());

  const PublisherInfo info = PublisherInfo::Now();
  Publisher publisher(list, network, info);
  for (std::size_t i = 0; i < readers.size(); ++i) readers[i]->AddConsumer(&publisher.Consumer(i));
  if (!publisher.Bind(error)) {
    Complain("serve: " + error);
    for (auto &r : readers) r->Shutdown();
    return kExitFailure;
  }
  // Ctrl-C and SIGTERM from here ask for a clean stop of every stream.
  BeginRecordingPhase();
  SetLaterStopsWaitForFiles(true);
  std::printf("%s\n%s\n", publisher.DataEndpoint().c_str(), publisher.ControlEndpoint().c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "vornctl: serving %zu device(s) on %s, controls on %s%s (Ctrl-C ends)\n", readers.size(),
               publisher.DataEndpoint().c_str(), publisher.ControlEndpoint().c_str(),
               network.serverKeys ? ", CURVE only" : "");
  if (!network.serverKeys) {
    std::fprintf(stderr, "vornctl: any user of this machine can read the stream and drive the devices\n");
  }
  publisher.Start();
  if (!given.noStart) {
    std::size_t described = 0;
    for (auto &r : readers) {
      if (r->Description().periodsUs.empty()) continue;
      const std::size_t k = described++;
      ControlResult result = AwaitControl([&](ControlDone done) { r->SetChannels(channels[k], std::move(done)); });
      if (result.ok()) {
        result = AwaitControl([&](ControlDone done) { r->SetPeriod(periodChoice[k], std::move(done)); });
      }
      if (result.ok()) result = AwaitControl([&](ControlDone done) { r->Start(std::move(done)); });
      if (!result.ok()) Complain(r->Identity().serial + ": " + result.error);
    }
  }
  while (!StopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(100));

  // Every stream stops and its last lines go out before the sockets close.
  std::vector<std::thread> stopping;
  for (auto &r : readers) stopping.emplace_back([&r] { r->Shutdown(); });
  for (auto &t : stopping) t.join();
  publisher.Stop();
  std::int64_t dropped = 0;
  for (std::size_t i = 0; i < readers.size(); ++i) dropped += publisher.Consumer(i).Dropped();
  readers.clear();
  std::fprintf(stderr, "vornctl: stopped every stream; published %llu data message(s)%s\n",
               static_cast<unsigned long long>(publisher.Sent()),
               dropped > 0
                   ? (", " + std::to_string(dropped) + " could not be queued (the subscribers see the gaps)").c_str()
                   : "");
  return kExitOk;
}

int KeygenCommand(const KeygenOptions &given) {
  if (given.name.empty()) {
    Complain("usage: vornctl keygen NAME (writes NAME.key, the key pair, and NAME.pub, its public key)");
    return kExitUsage;
  }
  CurveKeys keys;
  std::string error;
  if (!WriteKeyPair(given.name, keys, error)) {
    Complain("keygen: " + error);
    return kExitFailure;
  }
  std::printf("%s\n", keys.publicKey.c_str());
  std::fprintf(stderr, "vornctl: wrote %s.key (keep it to yourself) and %s.pub (its public key, for the other side)\n",
               given.name.c_str(), given.name.c_str());
  return kExitOk;
}

}  // namespace vornctl
