// `vornctl view --from URL`: the devices a publisher streams, as panels of
// the page beside the local ones. Their traces come from the subscription;
// their controls go to the publisher's control socket, whose answers and
// refusals the page shows as a local device's; a recording of one is written
// here by the same writers under the same gap rule as `record --from`, the
// publisher asked meanwhile to hold the stream as it is.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/vornctl/remote_recording.h"
#include "tools/vornctl/subscription.h"
#include "tools/vornctl/view_panel.h"

namespace vornctl {

class RemoteSource;

class RemoteViewDevice : public ViewPanel {
 public:
  using Clock = std::chrono::steady_clock;

  RemoteViewDevice(std::int32_t index, const StreamMeta &meta, RemoteSource &source, std::string recordDir);
  ~RemoteViewDevice() override;

  std::int32_t Index() const override { return index_; }
  DeviceIdentity Identity() const override;
  DeviceDescription Description() const override;
  ReaderState State() const override;
  std::string Source() const override;

  void Start(ControlDone done) override;
  void Stop(ControlDone done) override;
  void SetChannels(const std::vector<std::int32_t> &positions, ControlDone done) override;
  void SetPeriod(std::size_t choice, ControlDone done) override;
  void StartRecording(const std::string &format, ControlDone done) override;
  void StopRecording(ControlDone done) override;
  bool TakeBlock(DisplayBlock &out) override;
  void Shutdown() override;

  // From the subscription's thread.
  void OnMeta(const StreamMeta &meta);
  void OnData(const vornwire::DataMessage &message);
  // The publisher has said nothing for a while, or cannot be read: the
  // panel shows why until its metadata comes again.
  void Silent(const std::string &why);
  Clock::time_point LastHeard() const { return lastMeta_; }

 private:
  void Send(nlohmann::json request, ControlDone done);
  ControlResult BeginRecording(const std::string &format);
  ControlResult EndRecording(const std::string &why);
  void NewStream();

  const std::int32_t index_;
  RemoteSource &source_;
  const std::string recordDir_;

  mutable std::mutex mutex_;  // guards meta_ (written on the subscription's thread), state_, block_, silence_
  StreamMeta meta_;
  ReaderState state_;
  DisplayBlock block_;
  std::string silence_;

  // The subscription thread's own.
  Clock::time_point lastMeta_;
  bool streamSeen_ = false;
  std::uint64_t streamFirst_ = 0;  // sample index of line 0 of the page's stream
  std::uint64_t nextSample_ = 0;
  std::int64_t firstHostUs_ = 0;
  std::deque<std::pair<Clock::time_point, std::int64_t>> recent_;
  std::unique_ptr<SampleSink> sink_;
  std::unique_ptr<RemoteRecording> recording_;
};

// One publisher of the page: its subscription on a thread of its own, and
// a panel for each device it announces.
class RemoteSource : public SubscriptionHandler {
 public:
  RemoteSource(SubscriptionOptions options, PanelList &panels, std::string recordDir);
  ~RemoteSource() override;
  RemoteSource(const RemoteSource &) = delete;
  RemoteSource &operator=(const RemoteSource &) = delete;

  bool Open(std::string &error);
  // After the panels' Shutdown: ends the thread and the subscription (the
  // leases are released).
  void Shutdown();

  Subscription &Link() { return subscription_; }
  const std::string &Url() const { return subscription_.Address().url; }
  // Runs work on the subscription's thread and waits for it; here when that
  // thread has ended.
  void RunAndWait(const std::function<void()> &work);

  void OnMeta(const StreamMeta &meta) override;
  void OnData(const vornwire::DataMessage &message) override;
  void OnUnreadable(const std::string &serial, const vornwire::DecodeResult &result) override;

 private:
  void Run();

  PanelList &panels_;
  const std::string recordDir_;
  Subscription subscription_;
  std::map<std::string, std::unique_ptr<RemoteViewDevice>> devices_;  // the thread's own
  std::mutex mutex_;                                                  // guards running_
  bool running_ = false;
  bool quit_ = false;
  bool toldDamaged_ = false;
  std::thread thread_;
};

}  // namespace vornctl
