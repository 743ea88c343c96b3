#include "tools/vornwire/wire_format.h"

#include <cstring>

namespace vornwire {

namespace {

constexpr std::string_view kDataSuffix = "/data";
constexpr std::string_view kMetaSuffix = "/meta";

void PutU16(std::string &out, std::uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}
void PutU32(std::string &out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void PutU64(std::string &out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::uint64_t Get(const unsigned char *p, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

DecodeResult Damaged(std::string text) { return {DecodeStatus::Damaged, "damaged data message: " + std::move(text)}; }

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() > suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

}  // namespace

std::string DataTopic(std::string_view serial) { return std::string(serial) + std::string(kDataSuffix); }
std::string MetaTopic(std::string_view serial) { return std::string(serial) + std::string(kMetaSuffix); }
bool IsDataTopic(std::string_view topic) { return EndsWith(topic, kDataSuffix); }
bool IsMetaTopic(std::string_view topic) { return EndsWith(topic, kMetaSuffix); }
std::string TopicSerial(std::string_view topic) {
  if (!IsDataTopic(topic) && !IsMetaTopic(topic)) return {};
  return std::string(topic.substr(0, topic.size() - kDataSuffix.size()));
}

DecodeResult CheckFormatVersion(std::int64_t format) {
  if (format == kFormatVersion) return {};
  if (format > kFormatVersion) {
    return {DecodeStatus::NewerVersion, "the publisher sends stream format " + std::to_string(format) +
                                            ", this program reads format " + std::to_string(kFormatVersion) +
                                            ": update it to the publisher's release"};
  }
  return {DecodeStatus::Damaged, "unknown stream format " + std::to_string(format)};
}

std::string EncodeData(const DataMessage &m) {
  const DataHeader &h = m.header;
  const std::size_t serialLength = std::min(h.serial.size(), kMaxSerialLength);
  std::string out;
  out.reserve(kFixedHeaderSize + serialLength + (h.rows + 7) / 8 + m.values.size() * 2);
  out.append(kMagic, 2);
  out += static_cast<char>(kFormatVersion);
  out += static_cast<char>(kKindData);
  PutU16(out, static_cast<std::uint16_t>(kFixedHeaderSize + serialLength));
  PutU16(out, h.channels);
  PutU32(out, h.rows);
  PutU32(out, h.periodUs);
  PutU64(out, h.sequence);
  PutU64(out, h.firstSample);
  PutU64(out, static_cast<std::uint64_t>(h.firstHostUs));
  PutU64(out, static_cast<std::uint64_t>(h.lastHostUs));
  out += static_cast<char>(serialLength);
  out.append(h.serial.data(), serialLength);
  std::string bits((h.rows + 7) / 8, '\0');
  for (std::uint32_t r = 0; r < h.rows && r < m.malformed.size(); ++r) {
    if (m.malformed[r]) bits[r / 8] = static_cast<char>(bits[r / 8] | (1 << (r % 8)));
  }
  out += bits;
  for (std::uint16_t v : m.values) PutU16(out, v);
  return out;
}

DecodeResult DecodeData(const void *bytes, std::size_t size, DataMessage &out) {
  const auto *p = static_cast<const unsigned char *>(bytes);
  if (size < 4 || std::memcmp(p, kMagic, 2) != 0) return {DecodeStatus::NotOurs, "not a vorn data message"};
  if (DecodeResult version = CheckFormatVersion(p[2]); !version.ok()) return version;
  if (p[3] != kKindData) return Damaged("unknown kind " + std::to_string(p[3]));
  if (size < kFixedHeaderSize) return Damaged("shorter than its header (" + std::to_string(size) + " bytes)");
  const std::size_t headerSize = Get(p + 4, 2);
  DataHeader &h = out.header;
  h.channels = static_cast<std::uint16_t>(Get(p + 6, 2));
  h.rows = static_cast<std::uint32_t>(Get(p + 8, 4));
  h.periodUs = static_cast<std::uint32_t>(Get(p + 12, 4));
  h.sequence = Get(p + 16, 8);
  h.firstSample = Get(p + 24, 8);
  h.firstHostUs = static_cast<std::int64_t>(Get(p + 32, 8));
  h.lastHostUs = static_cast<std::int64_t>(Get(p + 40, 8));
  const std::size_t serialLength = p[48];
  // A later minor revision may add header fields after the serial: skipped.
  if (serialLength > kMaxSerialLength || kFixedHeaderSize + serialLength > headerSize || headerSize > size) {
    return Damaged("header size " + std::to_string(headerSize) + " does not fit");
  }
  if (h.channels == 0 || h.channels > kMaxChannels) return Damaged("channel count " + std::to_string(h.channels));
  if (h.rows > kMaxRows) return Damaged("row count " + std::to_string(h.rows));
  if (h.periodUs == 0) return Damaged("period 0");
  const std::uint64_t bitmapSize = (static_cast<std::uint64_t>(h.rows) + 7) / 8;
  const std::uint64_t valueCount = static_cast<std::uint64_t>(h.rows) * h.channels;
  if (headerSize + bitmapSize + 2 * valueCount != size) {
    return Damaged(std::to_string(size) + " bytes where its header announces " +
                   std::to_string(headerSize + bitmapSize + 2 * valueCount));
  }
  h.serial.assign(reinterpret_cast<const char *>(p + kFixedHeaderSize), serialLength);
  const unsigned char *bitmap = p + headerSize;
  out.malformed.resize(h.rows);
  for (std::uint32_t r = 0; r < h.rows; ++r) out.malformed[r] = (bitmap[r / 8] >> (r % 8)) & 1;
  const unsigned char *values = bitmap + bitmapSize;
  out.values.resize(static_cast<std::size_t>(valueCount));
  for (std::size_t i = 0; i < out.values.size(); ++i) {
    const auto v = static_cast<std::uint16_t>(Get(values + 2 * i, 2));
    if (v > kMaxValue) return Damaged("value " + std::to_string(v) + " beyond 32767");
    out.values[i] = v;
  }
  return {};
}

}  // namespace vornwire
