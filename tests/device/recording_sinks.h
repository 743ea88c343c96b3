// Test doubles that record what the protocol code sends and pushes.
#pragma once

#include <string>
#include <vector>

#include "device/protocol/command_sink.h"
#include "device/protocol/host_line_sink.h"

namespace vorn_test {

class RecordingCommands : public OpenPlotr::CommandSink {
 public:
  bool SendCommand(char letter) override {
    frames.push_back(std::string(":") + letter + "\n");
    return true;
  }
  void SendFieldMask(const std::vector<bool> &mask) override {
    std::string frame = ":U";
    for (bool set : mask) frame += set ? '1' : '0';
    frames.push_back(frame + "\r");
  }
  bool SendPeriodEntry(std::int32_t position) override {
    frames.push_back(":P" + std::to_string(position) + "\n");
    return true;
  }
  std::vector<std::string> frames;
};

class RecordingLines : public OpenPlotr::HostLineSink {
 public:
  bool PushLine(const char *bytes, std::size_t count) override {
    lines.emplace_back(bytes, count);
    return true;
  }
  std::vector<std::string> lines;
};

}  // namespace vorn_test
