#include "tools/vornctl/record_from.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>

#include "tools/vornctl/cli_args.h"
#include "tools/vornctl/commands.h"
#include "tools/vornctl/output_check.h"
#include "tools/vornctl/output_file.h"
#include "tools/vornctl/period_choices.h"
#include "tools/vornctl/recording_name.h"
#include "tools/vornctl/recording_report.h"
#include "tools/vornctl/remote_recording.h"
#include "tools/vornctl/stop_signal.h"
#include "tools/vornctl/subscription.h"

namespace vornctl {

namespace {

using Clock = std::chrono::steady_clock;

// Without any metadata this long, the user is told what may be wrong.
constexpr auto kNothingArrivesAfter = std::chrono::seconds(5);
constexpr int kPollMs = 100;

std::string SecondsText(std::int64_t sets, std::int64_t periodUs) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(sets) * static_cast<double>(periodUs) / 1e6);
  return text;
}

std::string GapMessage(std::int64_t sets, std::int64_t periodUs, const std::string &reason) {
  const std::string amount = std::to_string(sets) + " sample set(s) (" + SecondsText(sets, periodUs) + ")";
  if (reason == "sequence") return amount + " were lost between the publisher and vornctl; the files mark the gap";
  if (reason == "publisher") return "the publisher lost " + amount + " of the device; the files mark the gap";
  if (reason == "restart")
    return "the publisher restarted: " + amount + " never came; the files mark the gap and go on";
  return "the device's stream was started anew on the publisher: " + amount + " never came; the files mark the gap";
}

// One file set of a device: its channels and period did not change within it.
struct Part {
  std::vector<OutputTarget> files;
  std::vector<std::unique_ptr<SampleSink>> owned;
  std::unique_ptr<RemoteRecording> recording;
};

struct RemoteDevice {
  std::string serial;
  std::optional<StreamMeta> meta;  // the latest
  std::vector<std::unique_ptr<Part>> parts;
  bool active = false;  // the last part is being written
  bool done = false;
  bool failed = false;
  std::string error;
  int partNumber = 0;
  double secondsBefore = 0;  // of the parts already ended
  std::int64_t damaged = 0;
  bool toldIdle = false;
};

class RecordFromRun : public SubscriptionHandler {
 public:
  RecordFromRun(const RecordOptions &options, std::vector<OutputTarget> files, double seconds, bool several)
      : options_(options), files_(std::move(files)), seconds_(seconds), several_(several) {
    for (const std::string &serial : options.devices) Device(serial);
    common_.subject = options.output.subject;
    common_.subjectName = options.output.subjectName;
    common_.recording = options.output.recording;
  }

  void Attach(Subscription &subscription) { subscription_ = &subscription; }

  void OnMeta(const StreamMeta &meta) override {
    RemoteDevice *d = Wanted(meta.serial);
    if (!d || d->done) return;
    const bool first = !d->meta;
    d->meta = meta;
    if (first) anyMeta_ = true;
    if (d->active && !d->parts.back()->recording->Fits(meta)) {
      std::string was = PathForMessage(d->parts.back()->files.front().path);
      EndPart(*d, false);
      if (d->failed) return;
      if (!BeginPart(*d)) return;
      std::fprintf(stderr,
                   "vornctl: %s: its channels or period changed on the publisher (now %s): %s ends there, the "
                   "recording goes on in %s\n",
                   meta.serial.c_str(), LayoutText(meta).c_str(), was.c_str(),
                   PathForMessage(d->parts.back()->files.front().path).c_str());
    } else if (!d->active && !d->failed) {
      BeginPart(*d);
    }
    if (!meta.streaming && !d->toldIdle && d->active) {
      d->toldIdle = true;
      std::fprintf(stderr, "vornctl: %s is not streaming on the publisher; its rows begin when it starts\n",
                   meta.serial.c_str());
    }
    if (meta.streaming) d->toldIdle = false;
  }

  void OnData(const vornwire::DataMessage &message) override {
    RemoteDevice *d = Wanted(message.header.serial);
    if (!d || !d->active || !d->meta) return;
    Part &part = *d->parts.back();
    std::string error;
    switch (part.recording->Add(message, *d->meta, error)) {
      case RemoteRecording::Result::Taken:
      case RemoteRecording::Result::Skipped: break;
      case RemoteRecording::Result::Full:
        EndPart(*d, false);
        d->done = true;
        break;
      case RemoteRecording::Result::Failed:
        d->failed = true;
        d->error = error;
        EndPart(*d, false);
        break;
    }
  }

  void OnUnreadable(const std::string &serial, const vornwire::DecodeResult &result) override {
    if (result.status == vornwire::DecodeStatus::NewerVersion) {
      fatal_ = result.error;
      return;
    }
    RemoteDevice *d = Wanted(serial);
    if (!d) return;
    if (d->damaged++ == 0) {
      std::fprintf(stderr, "vornctl: %s: a message could not be read (%s); what it held becomes a gap in the files\n",
                   serial.c_str(), result.error.c_str());
    }
  }

  bool AllDone() const {
    if (devices_.empty()) return false;
    return std::all_of(devices_.begin(), devices_.end(),
                       [](const auto &entry) { return entry.second->done || entry.second->failed; });
  }
  bool AnyMeta() const { return anyMeta_; }
  const std::string &Fatal() const { return fatal_; }
  std::vector<std::string> MissingSerials() const {
    std::vector<std::string> missing;
    for (const auto &[serial, d] : devices_) {
      if (!d->meta) missing.push_back(serial);
    }
    return missing;
  }

  // Ends every recording still going (Ctrl-C, or the end of the run).
  void FinishAll(bool interrupted) {
    for (auto &[serial, d] : devices_) {
      (void)serial;
      if (d->active) EndPart(*d, interrupted);
    }
  }

  // Reports each device; the exit status's part.
  bool Report() const {
    bool failed = false;
    for (const auto &[serial, d] : devices_) {
      const std::string who = several_ ? serial + ": " : std::string();
      if (d->parts.empty()) {
        if (d->failed) {
          Complain(who + d->error);
          failed = true;
        }
        continue;
      }
      RecordingSummary total;
      std::vector<std::optional<OutputOutcome>> outcomes;
      for (const auto &part : d->parts) {
        const RecordingSummary &s = part->recording->Summary();
        total.samples += s.samples;
        total.dropped += s.dropped;
        total.missing += s.missing;
        total.gaps += s.gaps;
        total.gapSets += s.gapSets;
        total.seconds += s.seconds;
        total.started = total.started || s.started;
        for (const auto &sink : part->owned) outcomes.push_back(sink->Outcome());
      }
      if (d->damaged > 0) {
        Complain("warning: " + who + std::to_string(d->damaged) + " message(s) could not be read");
      }
      ReportRecording(who, total, d->failed, d->error, outcomes);
      failed = failed || d->failed;
    }
    return failed;
  }

 private:
  RemoteDevice *Device(const std::string &serial) {
    auto &slot = devices_[serial];
    if (!slot) {
      slot = std::make_unique<RemoteDevice>();
      slot->serial = serial;
    }
    return slot.get();
  }

  RemoteDevice *Wanted(const std::string &serial) {
    const auto it = devices_.find(serial);
    if (it != devices_.end()) return it->second.get();
    return options_.all ? Device(serial) : nullptr;
  }

  // The part's file names: the names given for one device, else with the
  // serial text in them; a later part takes the next free number.
  bool PartFiles(RemoteDevice &d, std::vector<OutputTarget> &files) {
    ++d.partNumber;
    for (const OutputTarget &f : files_) {
      OutputTarget own = f;
      if (several_) own.path = PathForDevice(f.path, d.serial);
      if (d.partNumber > 1) {
        if (own.path == "-") {
          d.error = "its channels or period changed on the publisher (now " + LayoutText(*d.meta) +
                    "); a recording on stdout cannot go on in a second file";
          return false;
        }
        int part = d.partNumber;
        own.path = NextPartPath(own.path, part);
      } else if (own.path != "-" && !CheckOutputPath(own.path, options_.output.force, d.error)) {
        return false;
      }
      files.push_back(own);
    }
    return true;
  }

  bool BeginPart(RemoteDevice &d) {
    auto part = std::make_unique<Part>();
    if (!PartFiles(d, part->files)) {
      d.failed = true;
      Complain(d.serial + ": " + d.error);
      return false;
    }
    std::vector<SampleSink *> sinks;
    for (const OutputTarget &f : part->files) {
      part->owned.push_back(MakeOutputWriter(f, d.partNumber == 1 && options_.output.force));
      sinks.push_back(part->owned.back().get());
    }
    std::int64_t maxSets = 0;
    if (seconds_ > 0) {
      const double left = seconds_ - d.secondsBefore;
      maxSets = std::max<std::int64_t>(
          1, static_cast<std::int64_t>(std::floor(left * 1e6 / static_cast<double>(d.meta->periodUs) + 0.5 + 1e-9)));
    }
    part->recording = std::make_unique<RemoteRecording>(*d.meta, common_, sinks, maxSets);
    const std::int64_t periodUs = d.meta->periodUs;
    const std::string serial = d.serial;
    part->recording->OnGap([serial, periodUs](std::int64_t sets, const std::string &reason) {
      std::fprintf(stderr, "vornctl: %s: %s\n", serial.c_str(), GapMessage(sets, periodUs, reason).c_str());
    });
    if (!part->recording->Begin(d.error)) {
      d.failed = true;
      d.parts.push_back(std::move(part));
      return false;
    }
    std::string names;
    for (const OutputTarget &f : part->files) names += (names.empty() ? "" : ", ") + PathForMessage(f.path);
    if (d.partNumber == 1) {
      std::fprintf(stderr, "vornctl: recording %s (%s %s): %s into %s\n", d.serial.c_str(), d.meta->product.c_str(),
                   d.meta->version.c_str(), LayoutText(*d.meta).c_str(), names.c_str());
    }
    d.parts.push_back(std::move(part));
    d.active = true;
    // While it records, nobody may change the stream from a distance.
    if (subscription_) subscription_->Hold(d.serial);
    return true;
  }

  void EndPart(RemoteDevice &d, bool interrupted) {
    if (!d.active) return;
    d.active = false;
    Part &part = *d.parts.back();
    std::string error;
    if (!part.recording->Finish(interrupted, StopSignalName(), error) && !d.failed) {
      d.failed = true;
      d.error = error;
    }
    d.secondsBefore += static_cast<double>(part.recording->Sets()) * static_cast<double>(d.meta->periodUs) / 1e6;
    if (subscription_) subscription_->Release(d.serial);
  }

  const RecordOptions &options_;
  std::vector<OutputTarget> files_;
  double seconds_;
  bool several_;
  RecordingHeader common_;
  Subscription *subscription_ = nullptr;
  std::map<std::string, std::unique_ptr<RemoteDevice>> devices_;
  bool anyMeta_ = false;
  std::string fatal_;
};

// What the publisher's device list says about names that sent nothing.
void TellAboutMissing(Subscription &subscription, const std::vector<std::string> &missing) {
  std::string names;
  for (const std::string &m : missing) names += (names.empty() ? "" : ", ") + m;
  subscription.Request({{"action", "devices"}}, [names, url = subscription.Address().url](const ControlAnswer &a) {
    std::string served;
    const auto list = a.reply.is_object() ? a.reply.find("devices") : a.reply.end();
    if (a.ok() && list != a.reply.end() && list->is_array()) {
      for (const auto &d : *list) {
        const auto serial = d.is_object() ? d.find("serial") : d.end();
        if (serial != d.end() && serial->is_string() && served.size() < 2000) {
          served += (served.empty() ? "" : ", ") + serial->get<std::string>();
        }
      }
      std::fprintf(stderr, "vornctl: nothing about %s has come from %s; it serves %s\n", names.c_str(), url.c_str(),
                   served.empty() ? "no device" : served.c_str());
    } else {
      std::fprintf(stderr,
                   "vornctl: nothing about %s has come from %s (is it in the publisher's device list? its control "
                   "socket says: %s)\n",
                   names.c_str(), url.c_str(), a.ok() ? "no list" : a.error.c_str());
    }
  });
}

}  // namespace

std::string LeaseHolderName(const std::string &program) {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  return program + " on " + (host[0] ? std::string(host) : std::string("an unnamed host")) + " (pid " +
         std::to_string(getpid()) + ")";
}

int RecordFromCommand(const RecordOptions &options) {
  auto usage = [](const std::string &text) {
    Complain("record --from: " + text);
    return kExitUsage;
  };
  if (options.devices.empty() == !options.all) {
    return usage(options.all ? "--all records every device the publisher serves; name no device beside it"
                             : "name the devices by serial text (vornctl record --from URL SERIAL...) or give --all");
  }
  if (options.reconnect) return usage("--reconnect is how --from works anyway: ZeroMQ connects again by itself");
  if (options.channels != "all" || options.period != "fastest") {
    return usage(
        "the publisher streams the channels and period; change them with 'vornctl view --from URL' or where the "
        "devices are");
  }
  if (options.output.block) return usage("--block reads a local device; a publisher's stream has no such choice");
  double seconds = 0;
  if (!options.seconds.empty()) {
    const std::optional<double> s = ParseSeconds(options.seconds);
    if (!s) return usage("--seconds takes a number of seconds, not '" + options.seconds + "'");
    seconds = *s;
  }
  if (options.output.outputs.empty() && options.output.plot.empty()) {
    return usage("say where the samples go: --out FILE (CSV, or EDF+ for .edf) and/or --plot FILE.svg");
  }
  std::string error;
  std::vector<OutputTarget> files;
  if (!CheckOutputs(options.output.outputs, options.output.plot, options.output.force, files, error)) {
    Complain(error);
    return kExitUsage;
  }
  std::vector<std::string> serials = options.devices;
  std::sort(serials.begin(), serials.end());
  if (std::adjacent_find(serials.begin(), serials.end()) != serials.end()) return usage("a device is named twice");
  for (const std::string &s : serials) {
    if (s.empty() || s.size() > vornwire::kMaxSerialLength || s.find('/') != std::string::npos) {
      return usage("'" + s.substr(0, 80) + "' is not a device's serial text");
    }
  }
  const bool several = options.all || serials.size() > 1;
  if (several && std::any_of(files.begin(), files.end(), [](const OutputTarget &f) { return f.path == "-"; })) {
    return usage("--out - takes one device's samples; with several devices give file names (one file per device)");
  }
  if (several && !options.all) {
    // Every device's own files are known now: checked before anything arrives.
    for (const std::string &serial : serials) {
      for (const OutputTarget &f : files) {
        if (!CheckOutputPath(PathForDevice(f.path, serial), options.output.force, error)) {
          Complain(error);
          return kExitUsage;
        }
      }
    }
  }
  SubscriptionOptions link;
  if (!ParsePublisherAddress(options.from, options.remote.control, link.address, error)) return usage(error);
  if (!LoadClientKeys(options.remote.serverKey, options.remote.clientKey, link.keys, error)) return usage(error);
  if (!link.address.loopback && !link.keys.Enabled()) {
    return usage(link.address.url +
                 " is not on this machine: beyond loopback a publisher speaks only with keys; give --server-key "
                 "FILE (its public key) and --client-key FILE (your key pair from 'vornctl keygen NAME')");
  }
  link.serials = serials;
  link.holder = LeaseHolderName("vornctl record");

  RecordFromRun run(options, files, seconds, several);
  Subscription subscription(link, run);
  run.Attach(subscription);
  if (!subscription.Open(error)) {
    Complain(error);
    return kExitFailure;
  }
  std::string what = options.all ? std::string("every device it serves") : std::string();
  for (const std::string &s : serials) what += (what.empty() ? "" : ", ") + s;
  std::string duration = "until Ctrl-C";
  if (seconds > 0) {
    char text[48];
    std::snprintf(text, sizeof text, "for %g s", seconds);
    duration = text;
  }
  std::fprintf(stderr, "vornctl: recording %s from %s %s\n", what.c_str(), link.address.url.c_str(), duration.c_str());

  BeginRecordingPhase();
  const Clock::time_point opened = Clock::now();
  bool told = false;
  bool interrupted = false;
  for (;;) {
    if (StopRequested()) {
      interrupted = true;
      break;
    }
    if (subscription.Stopped() || run.AllDone()) break;
    subscription.Poll(kPollMs);
    if (!told && Clock::now() - opened >= kNothingArrivesAfter) {
      const std::vector<std::string> missing = run.MissingSerials();
      if (!run.AnyMeta() || !missing.empty()) {
        told = true;
        const std::string advice = subscription.NothingArrivesAdvice();
        if (!advice.empty()) {
          Complain("nothing has arrived after " +
                   std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kNothingArrivesAfter).count()) +
                   " s: " + advice);
        } else if (!missing.empty()) {
          TellAboutMissing(subscription, missing);
        } else {
          Complain("connected to " + link.address.url + ", but it serves no device yet; waiting (Ctrl-C ends)");
        }
      }
    }
  }
  run.FinishAll(interrupted);
  subscription.Close();
  EndRecordingPhase();

  int status = run.Report() ? kExitFailure : kExitOk;
  if (!run.Fatal().empty()) {
    Complain(run.Fatal());
    status = kExitFailure;
  } else if (!run.AnyMeta()) {
    const std::string advice = subscription.NothingArrivesAdvice();
    Complain("nothing was recorded: " +
             (advice.empty() ? "no device's metadata came from " + link.address.url : advice));
    status = kExitFailure;
  }
  if (interrupted) {
    Complain("stopped by " + StopSignalName() + "; the files hold everything recorded until then");
    if (status == kExitOk && seconds > 0) status = StopExitStatus();
  }
  return status;
}

}  // namespace vornctl
