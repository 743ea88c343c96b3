// vornctl's command line: one options record per command, filled by CLI11.
// A new command adds its record, an Add...Command in command_line.cpp and
// one line in main's dispatch.
#pragma once

#include <string>
#include <vector>

namespace vornctl {

struct ListOptions {
  bool json = false;
};

struct InfoOptions {
  std::string device;  // an index from list, or a serial text
  bool json = false;
};

// What record and demo share: where the samples go and how they are read.
struct OutputOptions {
  std::vector<std::string> outputs;  // CSV, or EDF+ by extension; "-" is stdout
  std::string plot;                  // SVG
  bool block = false;
  bool noProgress = false;
  bool force = false;       // replace existing files (--force, --overwrite)
  std::string subject;      // subject code: EDF+ patient code
  std::string subjectName;  // EDF+ patient name
  std::string recording;    // EDF+ recording field
};

// A subscriber's link to a publisher (`vornctl serve`) and its keys.
struct RemoteOptions {
  std::string serverKey;  // the publisher's public key file
  std::string clientKey;  // this client's key pair file
  std::string control;    // the control socket; empty: the publisher's port + 1
};

struct RecordOptions {
  std::vector<std::string> devices;  // indexes or serial texts
  bool all = false;
  std::string channels = "all";
  std::string period = "fastest";
  std::string seconds;  // empty: until Ctrl-C
  bool reconnect = false;
  OutputOptions output;
  std::string from;  // a publisher's URL: record its stream instead of local devices
  RemoteOptions remote;
};

struct DemoOptions {
  std::string seconds;  // empty: the default
  std::string profile;
  std::vector<std::string> simArgs;
  OutputOptions output;
};

struct ViewOptions {
  std::string port;    // empty: any free port
  std::string listen;  // empty: 127.0.0.1 only
  bool open = false;
  bool start = false;
  bool token = false;  // a token even on loopback
  std::string outDir = ".";
  std::string web;                // empty: the page installed or built with vornctl
  std::vector<std::string> from;  // publishers whose devices are shown beside the local ones
  RemoteOptions remote;
};

struct ServeOptions {
  std::vector<std::string> devices;  // indexes or serial texts
  bool all = false;
  std::string bind = "tcp://127.0.0.1:5650";
  std::string control;  // empty: the port after --bind's
  std::string curveSecret;
  std::string curveClients;
  std::string sendHighWater;  // empty: the default
  std::string channels = "all";
  std::string period = "fastest";
  bool noStart = false;
};

struct KeygenOptions {
  std::string name;
};

struct CommandLine {
  std::string library;
  std::string command;  // the subcommand's name
  ListOptions list;
  InfoOptions info;
  RecordOptions record;
  DemoOptions demo;
  ViewOptions view;
  ServeOptions serve;
  KeygenOptions keygen;
};

struct ParseOutcome {
  enum class Kind { Run, Help, Version, Usage } kind = Kind::Run;
  std::string message;  // for Usage: what was wrong
};

// args without the program name.
ParseOutcome ParseCommandLine(const std::vector<std::string> &args, CommandLine &out);

}  // namespace vornctl
