// The protocol fields of a session: written by the receive thread's line
// handlers and by host commands, polled by the other side without a lock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "device/protocol/device_configuration.h"
#include "support/change_signal.h"
#include "device/protocol/snapshot.h"

namespace OpenPlotr {

enum WaitState : std::int32_t { kNoWait = 0, kAwaitS = 1, kAwaitB = 2 };

// The configuration download: which answer the session waits for next. The
// values follow the exchange's order, so "past the version" is a comparison.
enum DownloadState : std::int32_t {
  kDownloadIdle = 0,
  kAwaitAcknowledgement = 1,  // S sent
  kAwaitVersion = 2,          // V sent
  kAwaitFieldCount = 3,       // F sent: its echo, then the field line
  kAwaitPeriods = 4,
  kAwaitMaskEcho = 5,  // U sent
  kAwaitNames = 6,     // I sent: its echo, then the names line
  kAwaitUnits = 7,
  kAwaitMaxima = 8,
  kAwaitMinima = 9,
  kDownloadDone = 10,
};

// The fixed waits of the protocol. Tests shrink them; the driver never changes them.
struct ProtocolTiming {
  std::chrono::milliseconds ackStep{20};     // between S frames
  std::chrono::milliseconds ackLimit{5000};  // acknowledgement loops
  std::chrono::milliseconds longStep{1000};  // version and configuration waits
  std::chrono::milliseconds longLimit{15000};
};

struct ProtocolState {
  std::atomic<DownloadState> downloadState{kDownloadIdle};
  std::atomic<std::int32_t> waitState{kNoWait};
  std::atomic<bool> acknowledged{false};
  std::atomic<bool> streaming{false};
  std::atomic<bool> notResponding{false};
  std::atomic<std::int32_t> fieldCount{0};

  // Immutable snapshots: a reader always holds a complete, live object.
  Snapshot<VersionInfo> version;
  Snapshot<DeviceConfiguration> configuration;
  Snapshot<EnabledChannels> enabledChannels;

  ChangeSignal signal;
  ProtocolTiming timing;

  bool IsDownloading() const {
    const DownloadState state = downloadState.load();
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
