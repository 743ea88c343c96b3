#include "tools/vornctl/view_json.h"

#include <charconv>

#include "tools/vornctl/period_choices.h"

namespace vornctl {

namespace {

nlohmann::json RecordingJson(const RecordingState &r) {
  return {{"active", r.active}, {"path", r.path}, {"format", r.format}, {"lines", r.lines}, {"error", r.error}};
}

void AppendNumber(std::string &out, double v) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 1);
  out.append(text, ec == std::errc() ? end : text);
}

void AppendInteger(std::string &out, long long v) {
  char text[24];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, v);
  out.append(text, end);
}

}  // namespace

nlohmann::json DeviceJson(const ViewPanel &device) {
  const DeviceIdentity id = device.Identity();
  const DeviceDescription d = device.Description();
  const ReaderState s = device.State();
  nlohmann::json channels = nlohmann::json::array();
  for (const ChannelInfo &c : d.channels) {
    const bool enabled = std::find(s.enabled.begin(), s.enabled.end(), c.position) != s.enabled.end();
    channels.push_back({{"position", c.position},
                        {"name", c.name},
                        {"unit", c.unit},
                        {"hasRange", c.hasRange},
                        {"minimum", c.minimum},
                        {"maximum", c.maximum},
                        {"enabled", enabled}});
  }
  nlohmann::json periods = nlohmann::json::array();
  for (std::size_t i = 0; i < d.periodsUs.size(); ++i) {
    const std::int64_t us = NominalPeriodUs(d.periodsUs[i]);
    periods.push_back({{"choice", i}, {"listedUs", d.periodsUs[i]}, {"us", us}, {"label", FormatPeriod(us)}});
  }
  const std::int64_t periodUs = d.periodsUs.empty() ? 0 : NominalPeriodUs(d.periodsUs[s.periodChoice]);
  return {{"index", device.Index()},
          {"serial", id.serial},
          {"product", id.product},
          {"version", id.version},
          {"uniqueId", UniqueIdText(id.uniqueId)},
          {"status", PhaseName(s.phase)},
          {"message", s.message},
          {"channels", channels},
          {"periods", periods},
          {"period", s.periodChoice},
          {"periodUs", periodUs},
          {"stream", s.stream},
          {"streamed", s.streamed},
          {"stats",
           {{"lines", s.stats.lines},
            {"dropped", s.stats.dropped},
            {"missing", s.stats.missing},
            {"seconds", s.stats.seconds},
            {"rate", s.stats.rate}}},
          {"source", device.Source()},
          {"recording", RecordingJson(s.recording)},
          {"lastRecording", RecordingJson(s.lastRecording)}};
}

nlohmann::json DevicesJson(const std::vector<ViewPanel *> &devices) {
  nlohmann::json list = nlohmann::json::array();
  for (const ViewPanel *d : devices) list.push_back(DeviceJson(*d));
  return list;
}

std::string BlocksJson(const std::vector<IndexedBlock> &blocks, double sentMs) {
  // Written by hand: at 8 devices x 4 channels x 500 lines/s this is the
  // server's busiest text, and it is only integers.
  std::string out = "{\"sent\":";
  AppendNumber(out, sentMs);
  out += ",\"blocks\":[";
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    const DisplayBlock &k = blocks[b].block;
    if (b) out += ',';
    out += "{\"device\":";
    AppendInteger(out, blocks[b].device);
    out += ",\"stream\":";
    AppendInteger(out, k.stream);
    out += ",\"first\":";
    AppendInteger(out, static_cast<long long>(k.firstLine));
    out += ",\"arrival\":";
    AppendNumber(out, k.lastArrivalMs);
    out += ",\"skipped\":";
    AppendInteger(out, static_cast<long long>(k.skipped));
    out += ",\"values\":[";
    for (std::size_t c = 0; c < k.values.size(); ++c) {
      if (c) out += ',';
      out += '[';
      for (std::size_t i = 0; i < k.values[c].size(); ++i) {
        if (i) out += ',';
        if (k.values[c][i] == kNoValue) {
          out += "null";
        } else {
          AppendInteger(out, k.values[c][i]);
        }
      }
      out += ']';
    }
    out += "]}";
  }
  out += "]}";
  return out;
}

std::string EventMessage(const std::string &event, const std::string &data) {
  // data is one line of JSON (no raw line feeds), so one data field carries it.
  return "event: " + event + "\ndata: " + data + "\n\n";
}

}  // namespace vornctl
