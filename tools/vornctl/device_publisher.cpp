#include "tools/vornctl/device_publisher.h"

#include <unistd.h>

#include <algorithm>
#include <ctime>

#include "tools/vornctl/period_choices.h"

namespace vornctl {

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t MicrosSince(Clock::time_point start, Clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::microseconds>(at - start).count();
}

}  // namespace

PublisherInfo PublisherInfo::Now() {
  PublisherInfo info;
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) == 0) info.host = name;
  info.start = Clock::now();
  const auto wall = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch()).count();
  info.startUnix = static_cast<double>(ms) / 1000.0;
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  char full[48];
  std::snprintf(full, sizeof full, "%s.%03dZ", text, static_cast<int>(ms % 1000));
  info.startUtc = full;
  return info;
}

nlohmann::json MetadataJson(const DeviceReader &reader, const PublisherInfo &publisher) {
  const DeviceIdentity &id = reader.Identity();
  const DeviceDescription &d = reader.Description();
  const ReaderState s = reader.State();
  nlohmann::json channels = nlohmann::json::array();
  for (const ChannelInfo &c : d.channels) {
    const bool enabled = std::find(s.enabled.begin(), s.enabled.end(), c.position) != s.enabled.end();
    // A channel that gave no limits streams -32767..32767, as the driver maps it.
    channels.push_back({{"position", c.position},
                        {"name", c.name},
                        {"unit", c.unit},
                        {"minimum", c.hasRange ? c.minimum : -32767.0},
                        {"maximum", c.hasRange ? c.maximum : 32767.0},
                        {"enabled", enabled}});
  }
  nlohmann::json periods = nlohmann::json::array();
  for (std::int32_t listed : d.periodsUs) periods.push_back(NominalPeriodUs(listed));
  const bool streaming = s.phase == ReaderPhase::Streaming;
  return {{"format", vornwire::kFormatVersion},
          {"serial", id.serial},
          {"unique_id", id.uniqueId ? nlohmann::json(*id.uniqueId) : nlohmann::json(nullptr)},
          {"product", id.product},
          {"version", id.version},
          {"period_us", d.periodsUs.empty() ? 0 : NominalPeriodUs(d.periodsUs[s.periodChoice])},
          {"periods_us", periods},
          {"channels", channels},
          {"streaming", streaming},
          {"stream", s.stream},
          {"status", PhaseName(s.phase)},
          {"message", s.message},
          {"publisher",
           {{"host", publisher.host}, {"start_unix", publisher.startUnix}, {"start_utc", publisher.startUtc}}}};
}

DevicePublisher::DevicePublisher(std::size_t place, PublishQueue &queue, const PublisherInfo &publisher)
    : place_(place), queue_(queue), publisher_(publisher) {}

void DevicePublisher::AddRow(const LineBatch &batch, std::size_t line) {
  vornwire::DataHeader &h = pending_.header;
  if (h.rows == 0) {
    h.firstSample = static_cast<std::uint64_t>(batch.sample[line]);
    h.firstHostUs = MicrosSince(publisher_.start, batch.at[line]);
    h.channels = static_cast<std::uint16_t>(batch.channels);
    h.periodUs = static_cast<std::uint32_t>(batch.periodUs);
    pendingSince_ = batch.at[line];
    pendingStream_ = batch.stream;
  }
  const std::int32_t *row = batch.values.data() + line * batch.channels;
  // The driver scales onto 0..32767; anything else is damage, never sent as a value.
  bool damaged = batch.damaged[line] != 0;
  for (std::size_t c = 0; c < batch.channels && !damaged; ++c) damaged = row[c] < 0 || row[c] > vornwire::kMaxValue;
  pending_.malformed.push_back(damaged ? 1 : 0);
  for (std::size_t c = 0; c < batch.channels; ++c) {
    pending_.values.push_back(damaged ? 0 : static_cast<std::uint16_t>(row[c]));
  }
  ++h.rows;
  h.lastHostUs = MicrosSince(publisher_.start, batch.at[line]);
}

void DevicePublisher::Flush() {
  vornwire::DataHeader &h = pending_.header;
  if (h.rows == 0) return;
  h.sequence = sequence_++;
  Outgoing item;
  item.kind = Outgoing::Kind::Data;
  item.device = place_;
  item.payload = vornwire::EncodeData(pending_);
  // A message the queue cannot take still used its number: the subscribers see the jump.
  if (!queue_.Push(std::move(item))) ++dropped_;
  h.rows = 0;
  pending_.malformed.clear();
  pending_.values.clear();
}

void DevicePublisher::Lines(const DeviceReader &reader, const LineBatch &batch) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pending_.header.serial.empty()) pending_.header.serial = reader.Identity().serial;
  // A message carries one device's stream at one period and channel count, a
  // run of consecutive sample indexes: a gap begins a new message.
  const bool fits = batch.channels >= 1 && batch.channels <= vornwire::kMaxChannels && batch.periodUs > 0;
  for (std::size_t i = 0; fits && i < batch.Lines(); ++i) {
    const vornwire::DataHeader &h = pending_.header;
    if (h.rows > 0 &&
        (batch.stream != pendingStream_ || batch.channels != h.channels ||
         static_cast<std::uint64_t>(batch.sample[i]) != h.firstSample + h.rows || h.rows >= kMaxRowsPerMessage)) {
      Flush();
    }
    AddRow(batch, i);
  }
  if (pending_.header.rows > 0 && Clock::now() - pendingSince_ >= kWindow) Flush();
}

void DevicePublisher::Changed(const DeviceReader &reader) {
  Outgoing item;
  item.kind = Outgoing::Kind::Meta;
  item.device = place_;
  item.payload = MetadataJson(reader, publisher_).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::lock_guard<std::mutex> lock(mutex_);
  // The old stream's last lines go before the news that it ended.
  Flush();
  queue_.Push(std::move(item));
}

std::uint64_t DevicePublisher::Sequence() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sequence_;
}

std::int64_t DevicePublisher::Dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

}  // namespace vornctl
