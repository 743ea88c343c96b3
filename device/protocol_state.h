// The protocol fields of a session: written by the receive thread's line
// handlers and by host commands, polled by the other side without a lock.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "device/device_configuration.h"

namespace OpenPlotr {

enum WaitState : std::int32_t { kNoWait = 0, kAwaitS = 1, kAwaitB = 2 };

inline constexpr std::int32_t kDownloadIdle = 0;
inline constexpr std::int32_t kDownloadDone = 10;

// The fixed waits of the protocol. Tests shrink them; the driver never changes them.
struct ProtocolTiming {
  std::chrono::milliseconds ackStep{20};      // between S frames
  std::chrono::milliseconds ackLimit{5000};   // acknowledgement loops
  std::chrono::milliseconds longStep{1000};   // version and configuration waits
  std::chrono::milliseconds longLimit{15000};
};

// Lets a host thread that polls a protocol field wake as soon as the receive
// thread changes it, while keeping every deadline of the polling loops.
class ProtocolSignal {
 public:
  void Notify() {
    { std::lock_guard<std::mutex> lock(mutex_); }
    changed_.notify_all();
  }
  // Waits at most timeout for ready() to hold; returns ready().
  template <typename Ready>
  bool WaitFor(Ready ready, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, ready);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

struct ProtocolState {
  std::atomic<std::int32_t> downloadState{kDownloadIdle};
  std::atomic<std::int32_t> waitState{kNoWait};
  std::atomic<bool> acknowledged{false};
  std::atomic<bool> streaming{false};
  std::atomic<bool> notResponding{false};
  std::atomic<std::int32_t> fieldCount{0};

  // Immutable snapshots: a reader always holds a complete, live object.
  std::atomic<std::shared_ptr<const VersionInfo>> version;
  std::atomic<std::shared_ptr<const DeviceConfiguration>> configuration;
  std::atomic<std::shared_ptr<const EnabledChannels>> enabledChannels;

  ProtocolSignal signal;
  ProtocolTiming timing;

  bool IsDownloading() const {
    const std::int32_t state = downloadState.load();
    return state != kDownloadIdle && state != kDownloadDone;
  }

  // A fresh exchange: clean fields before a new receive thread or download starts.
  void ResetForNewExchange() {
    downloadState = kDownloadIdle;
    waitState = kNoWait;
    acknowledged = false;
    streaming = false;
  }
};

}  // namespace OpenPlotr
