// The vornctl commands. Each returns the process exit status.
#pragma once

#include <string>
#include <vector>

#include <memory>

#include "tools/hostlib/host_environment.h"
#include "tools/hostlib/vorn_library.h"
#include "tools/vornctl/command_line.h"

namespace vornctl {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // as a shell reports a program ended by Ctrl-C

// The driver library, loaded when a command first needs it (the demo sets
// VORN_PORTS before that).
struct Context {
  std::string libraryOption;
  const char *argv0 = "vornctl";
  std::string libraryPath;
  vorn_host::VornLibrary lib;
  bool loaded = false;
  std::unique_ptr<vorn_host::HostEnvironmentOffer> hostEnvironment;  // made before the load

  bool Load(std::string &error);
  // Load, with the reason on stderr when it fails.
  bool LoadOrComplain();
  // CloseAll, unload, then withdraw the host environment.
  void Unload();
};

// This build's version, as --version and the recordings' headers give it.
extern const char kVornctlVersion[];

int AboutCommand(Context &context);
int ListCommand(Context &context, const ListOptions &options);
int InfoCommand(Context &context, const InfoOptions &options);
int RecordCommand(Context &context, const RecordOptions &options);
int DemoCommand(Context &context, const DemoOptions &options);

// "vornctl: " + text on stderr.
void Complain(const std::string &text);

}  // namespace vornctl
