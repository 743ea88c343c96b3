// The data messages a publisher sends for each streaming device, as bytes.
// Layout and version rule: docs/streaming.md. A decoder trusts nothing in a
// message: every length is checked against the bytes it was handed, so a
// lying header gives an error, never a read past the end or an allocation
// the header asks for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vornwire {

constexpr std::uint8_t kFormatVersion = 1;
constexpr char kMagic[2] = {'V', 'D'};
constexpr std::uint8_t kKindData = 1;
// The fixed part of a data header, before the serial text.
constexpr std::size_t kFixedHeaderSize = 49;
constexpr std::size_t kMaxSerialLength = 64;
constexpr std::uint16_t kMaxChannels = 256;
// A block is about 20 ms of lines; this is far beyond any real one and keeps a
// message under 64 MiB.
constexpr std::uint32_t kMaxRows = 1u << 17;
constexpr std::uint16_t kMaxValue = 32767;

// Topics: "SERIAL/data" and "SERIAL/meta". A subscription to "SERIAL/" takes
// exactly one device's messages (a bare serial would also match longer ones).
std::string DataTopic(std::string_view serial);
std::string MetaTopic(std::string_view serial);
// The serial of a topic, empty when the topic is not one of ours.
std::string TopicSerial(std::string_view topic);
bool IsDataTopic(std::string_view topic);
bool IsMetaTopic(std::string_view topic);

struct DataHeader {
  std::string serial;
  std::uint64_t sequence = 0;     // per device, from 0, +1 for every data message
  std::uint64_t firstSample = 0;  // sample index of the first row, counting the sets of gaps
  std::uint32_t rows = 0;
  std::uint16_t channels = 0;
  std::uint32_t periodUs = 0;
  std::int64_t firstHostUs = 0;  // the publisher's monotonic clock, µs from its start
  std::int64_t lastHostUs = 0;
};

struct DataMessage {
  DataHeader header;
  std::vector<std::uint8_t> malformed;  // one flag per row
  std::vector<std::uint16_t> values;    // rows by channels; a malformed row holds zeros
};

// values.size() must be rows * channels and malformed.size() rows.
std::string EncodeData(const DataMessage &message);

enum class DecodeStatus { Ok, NotOurs, NewerVersion, Damaged };
struct DecodeResult {
  DecodeStatus status = DecodeStatus::Ok;
  std::string error;  // what is wrong, for the user
  bool ok() const { return status == DecodeStatus::Ok; }
};

// Decodes into out (its vectors reused); never allocates more than the
// message's own size.
DecodeResult DecodeData(const void *bytes, std::size_t size, DataMessage &out);

// The metadata message is JSON with a "format" member; this checks it the
// same way, so every reader gives the same words for a newer publisher.
DecodeResult CheckFormatVersion(std::int64_t format);

}  // namespace vornwire
