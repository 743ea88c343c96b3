// The publisher's share of one device's reader: its lines as data messages,
// its state as metadata, both handed to the publisher's thread through the
// queue (docs/streaming.md has the format).
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "tools/vornctl/device_reader.h"
#include "tools/vornctl/publish_queue.h"
#include "tools/vornwire/wire_format.h"

namespace vornctl {

// Who publishes: in every device's metadata.
struct PublisherInfo {
  std::string host;
  double startUnix = 0;                         // seconds since the epoch
  std::string startUtc;                         // ISO 8601
  std::chrono::steady_clock::time_point start;  // host times count from here
  static PublisherInfo Now();
};

// The metadata message of a device as it is now.
nlohmann::json MetadataJson(const DeviceReader &reader, const PublisherInfo &publisher);

class DevicePublisher : public ReaderConsumer {
 public:
  // A data message holds at most this much of the stream (about 50 a second).
  static constexpr auto kWindow = std::chrono::milliseconds(20);
  static constexpr std::uint32_t kMaxRowsPerMessage = 4096;

  DevicePublisher(std::size_t place, PublishQueue &queue, const PublisherInfo &publisher);

  void Lines(const DeviceReader &reader, const LineBatch &batch) override;
  void Changed(const DeviceReader &reader) override;

  // Data messages numbered so far, and those the queue could not take.
  std::uint64_t Sequence() const;
  std::int64_t Dropped() const;

 private:
  void AddRow(const LineBatch &batch, std::size_t line);
  void Flush();

  const std::size_t place_;
  PublishQueue &queue_;
  const PublisherInfo &publisher_;
  mutable std::mutex mutex_;  // the reader's thread and, for a stopped device, a control's
  vornwire::DataMessage pending_;
  std::chrono::steady_clock::time_point pendingSince_{};
  std::uint32_t pendingStream_ = 0;
  std::uint64_t sequence_ = 0;
  std::int64_t dropped_ = 0;
};

}  // namespace vornctl
