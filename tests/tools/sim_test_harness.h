#pragma once
// Drives the simulator's device-side state machine on a made-up timeline.

#include <string>
#include <vector>

#include "device_protocol.h"
#include "profiles.h"

namespace vorn_test {

using namespace VornSim;

struct CollectTrace : TraceSink {
  std::vector<std::string> notes;
  void Note(SimMicros, std::string_view text) override { notes.emplace_back(text); }
  bool Contains(std::string_view part) const {
    for (const std::string &n : notes)
      if (n.find(part) != std::string::npos) return true;
    return false;
  }
};

inline DeviceSettings SettingsFor(const char *profileName, FaultSet faults = {}) {
  DeviceSettings s;
  s.profile = *FindProfile(profileName);
  s.faults = faults;
  s.cycle = 40000;
  return s;
}

struct Device {
  explicit Device(DeviceSettings settings) : proto(std::move(settings), &trace) {}

  // Bytes as the host writes them, at time t.
  void Send(std::string_view bytes, SimMicros t) { proto.Receive(bytes, t); }
  // Every chunk due by t, after generating the samples due by t.
  std::vector<OutputChunk> Chunks(SimMicros t) {
    proto.Advance(t);
    return proto.TakeDue(t);
  }
  std::string Out(SimMicros t) {
    std::string all;
    for (const OutputChunk &c : Chunks(t)) all += c.bytes;
    return all;
  }
  // Send, then everything answered by the same moment.
  std::string Ask(std::string_view bytes, SimMicros t) {
    Send(bytes, t);
    return Out(t);
  }
  // Runs the whole download the host does, up to the I answer.
  void Download(SimMicros t) {
    const std::string mask(static_cast<size_t>(proto.Settings().profile.FieldCount()), '1');
    Ask(":S\n:V\n:F\n:U" + mask + "\r:I\n", t);
  }

  CollectTrace trace;
  DeviceProtocol proto;
};

// Lines of a CR LF text, without their line ends; the remainder (no CR LF) is dropped.
inline std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
    lines.push_back(text.substr(start, at - start));
  return lines;
}

inline std::vector<std::string> Fields(const std::string &line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t at; (at = line.find(',', start)) != std::string::npos; start = at + 1)
    fields.push_back(line.substr(start, at - start));
  fields.push_back(line.substr(start));
  return fields;
}

constexpr SimMicros ms(std::int64_t v) { return v * 1000; }

}  // namespace vorn_test
