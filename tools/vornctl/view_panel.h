// One panel of the page: a device of this machine, or one a publisher
// streams (`view --from`). The page's events, its device list and its
// controls see only this, so a remote device is shown, driven and recorded
// as a local one is.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tools/vornctl/device_reader.h"

namespace vornctl {

class ViewPanel {
 public:
  virtual ~ViewPanel() = default;
  // The panel's place on the page, kept for the program's life.
  virtual std::int32_t Index() const = 0;
  virtual DeviceIdentity Identity() const = 0;
  virtual DeviceDescription Description() const = 0;
  virtual ReaderState State() const = 0;
  // Where the device is: empty for this machine, else its publisher's URL.
  virtual std::string Source() const { return {}; }

  // As DeviceReader's: checked first, answered once, never waited for.
  virtual void Start(ControlDone done) = 0;
  virtual void Stop(ControlDone done) = 0;
  virtual void SetChannels(const std::vector<std::int32_t> &positions, ControlDone done) = 0;
  virtual void SetPeriod(std::size_t choice, ControlDone done) = 0;
  virtual void StartRecording(const std::string &format, ControlDone done) = 0;
  virtual void StopRecording(ControlDone done) = 0;

  virtual bool TakeBlock(DisplayBlock &out) = 0;
  // Ends the panel's recording (and a local device's stream).
  virtual void Shutdown() = 0;
};

// A device of this machine: its reader does the work.
class LocalPanel : public ViewPanel {
 public:
  explicit LocalPanel(DeviceReader &device) : device_(device) {}
  std::int32_t Index() const override { return device_.Index(); }
  DeviceIdentity Identity() const override { return device_.Identity(); }
  DeviceDescription Description() const override { return device_.Description(); }
  ReaderState State() const override { return device_.State(); }
  void Start(ControlDone done) override { device_.Start(std::move(done)); }
  void Stop(ControlDone done) override { device_.Stop(std::move(done)); }
  void SetChannels(const std::vector<std::int32_t> &positions, ControlDone done) override {
    device_.SetChannels(positions, std::move(done));
  }
  void SetPeriod(std::size_t choice, ControlDone done) override { device_.SetPeriod(choice, std::move(done)); }
  void StartRecording(const std::string &format, ControlDone done) override {
    device_.StartRecording(format, std::move(done));
  }
  void StopRecording(ControlDone done) override { device_.StopRecording(std::move(done)); }
  bool TakeBlock(DisplayBlock &out) override { return device_.TakeBlock(out); }
  void Shutdown() override { device_.Shutdown(); }

 private:
  DeviceReader &device_;
};

// The page's panels: local ones first, remote ones as their publishers
// announce them. Panels are only ever added, so an index stays its panel's;
// the list does not own them.
class PanelList {
 public:
  // make is given the new panel's index.
  ViewPanel *Add(const std::function<ViewPanel *(std::int32_t index)> &make) {
    std::lock_guard<std::mutex> lock(mutex_);
    ViewPanel *panel = make(static_cast<std::int32_t>(panels_.size()));
    panels_.push_back(panel);
    return panel;
  }
  std::vector<ViewPanel *> Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return panels_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<ViewPanel *> panels_;
};

}  // namespace vornctl
