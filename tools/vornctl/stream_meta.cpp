#include "tools/vornctl/stream_meta.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "tools/vornctl/period_choices.h"

namespace vornctl {

namespace {

using nlohmann::json;

vornwire::DecodeResult Damaged(const std::string &text) {
  return {vornwire::DecodeStatus::Damaged, "damaged metadata: " + text};
}

// A text member; absent counts as empty, anything else but a short string is damage.
bool Text(const json &object, const char *key, std::string &out, bool required = false) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) return !required;
  if (!it->is_string() || it->get_ref<const std::string &>().size() > kMaxMetaText) return false;
  out = it->get<std::string>();
  return true;
}

bool Integer(const json &value, std::int64_t low, std::int64_t high, std::int64_t &out) {
  if (!value.is_number_integer()) return false;
  const std::int64_t v =
      value.is_number_unsigned() && value.get<std::uint64_t>() > INT64_MAX ? INT64_MAX : value.get<std::int64_t>();
  if (v < low || v > high) return false;
  out = v;
  return true;
}

bool Finite(const json &value, double &out) {
  if (!value.is_number()) return false;
  out = value.get<double>();
  return std::isfinite(out);
}

}  // namespace

vornwire::DecodeResult ParseStreamMeta(std::string_view text, StreamMeta &out) {
  if (text.size() > kMaxMetaBytes) return Damaged(std::to_string(text.size()) + " bytes");
  const json j = json::parse(text, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return Damaged("not a JSON object");
  const auto format = j.find("format");
  std::int64_t version = 0;
  if (format == j.end() || !Integer(*format, INT64_MIN, INT64_MAX, version)) return Damaged("no format number");
  if (vornwire::DecodeResult r = vornwire::CheckFormatVersion(version); !r.ok()) return r;

  StreamMeta m;
  if (!Text(j, "serial", m.serial, true) || m.serial.empty() || m.serial.size() > vornwire::kMaxSerialLength) {
    return Damaged("no serial text");
  }
  if (!Text(j, "product", m.product) || !Text(j, "version", m.version)) return Damaged("product or version");
  if (const auto id = j.find("unique_id"); id != j.end() && !id->is_null()) {
    std::int64_t v = 0;
    if (!Integer(*id, INT32_MIN, UINT32_MAX, v)) return Damaged("unique_id");
    m.uniqueId = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
  }
  const auto period = j.find("period_us");
  if (period == j.end() || !Integer(*period, 1, UINT32_MAX, m.periodUs)) return Damaged("period_us");
  if (const auto periods = j.find("periods_us"); periods != j.end()) {
    if (!periods->is_array() || periods->size() > kMaxMetaPeriods) return Damaged("periods_us");
    for (const json &p : *periods) {
      std::int64_t us = 0;
      if (!Integer(p, 1, UINT32_MAX, us)) return Damaged("periods_us");
      m.periodsUs.push_back(us);
    }
  }
  const auto channels = j.find("channels");
  if (channels == j.end() || !channels->is_array() || channels->empty() || channels->size() > vornwire::kMaxChannels) {
    return Damaged("channels");
  }
  for (const json &c : *channels) {
    if (!c.is_object()) return Damaged("channels");
    ChannelInfo info;
    std::int64_t position = 0;
    const auto p = c.find("position");
    if (p == c.end() || !Integer(*p, 1, vornwire::kMaxChannels, position)) return Damaged("channel position");
    info.position = static_cast<std::int32_t>(position);
    if (!m.channels.empty() && info.position <= m.channels.back().position) {
      return Damaged("channel positions out of order");
    }
    if (!Text(c, "name", info.name) || !Text(c, "unit", info.unit)) return Damaged("channel name or unit");
    const auto low = c.find("minimum");
    const auto high = c.find("maximum");
    if (low != c.end() && high != c.end() && !low->is_null() && !high->is_null()) {
      if (!Finite(*low, info.minimum) || !Finite(*high, info.maximum)) return Damaged("channel range");
      info.hasRange = true;
    }
    const auto enabled = c.find("enabled");
    if (enabled != c.end() && !enabled->is_boolean()) return Damaged("channel enabled");
    if (enabled != c.end() && enabled->get<bool>()) m.enabled.push_back(info.position);
    m.channels.push_back(std::move(info));
  }
  if (const auto streaming = j.find("streaming"); streaming != j.end()) {
    if (!streaming->is_boolean()) return Damaged("streaming");
    m.streaming = streaming->get<bool>();
  }
  if (const auto stream = j.find("stream"); stream != j.end() && !Integer(*stream, 0, INT64_MAX, m.stream)) {
    return Damaged("stream");
  }
  if (const auto publisher = j.find("publisher"); publisher != j.end()) {
    if (!publisher->is_object() || !Text(*publisher, "host", m.publisherHost) ||
        !Text(*publisher, "start_utc", m.publisherStartUtc)) {
      return Damaged("publisher");
    }
    const auto start = publisher->find("start_unix");
    if (start != publisher->end() && !Finite(*start, m.publisherStartUnix)) return Damaged("publisher start");
  }
  out = std::move(m);
  return {};
}

std::vector<ChannelInfo> StreamedChannels(const StreamMeta &meta) {
  std::vector<ChannelInfo> streamed;
  for (const ChannelInfo &c : meta.channels) {
    for (std::int32_t p : meta.enabled) {
      if (p == c.position) streamed.push_back(c);
    }
  }
  return streamed;
}

bool SameLayout(const StreamMeta &a, const StreamMeta &b) {
  if (a.periodUs != b.periodUs || a.enabled != b.enabled) return false;
  const std::vector<ChannelInfo> x = StreamedChannels(a);
  const std::vector<ChannelInfo> y = StreamedChannels(b);
  if (x.size() != y.size()) return false;
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (x[i].name != y[i].name || x[i].unit != y[i].unit || x[i].hasRange != y[i].hasRange ||
        x[i].minimum != y[i].minimum || x[i].maximum != y[i].maximum) {
      return false;
    }
  }
  return true;
}

DeviceIdentity IdentityOf(const StreamMeta &meta) {
  DeviceIdentity id;
  id.serial = meta.serial;
  id.product = meta.product;
  id.version = meta.version;
  id.uniqueId = meta.uniqueId;
  return id;
}

std::string LayoutText(const StreamMeta &meta) {
  return std::to_string(meta.enabled.size()) + " channel(s) every " + FormatPeriod(meta.periodUs);
}

}  // namespace vornctl
